#pragma once

#include <string_view>

// Checks run on untrusted bytes before libplist sees them. libplist 2.2 recurses without a limit,
// aborts on keys holding a NUL and trusts much of a binary file's layout, so anything it could
// choke on is turned away here.
namespace platform::plist::detail {

// Whether the bytes start like a binary property list.
bool looksBinary(std::string_view bytes);

// A binary property list whose every reachable object is well formed and in range, with no
// cycles, no nesting deeper than kMaxDepth, no NUL in any string, and not so many shared
// references that expanding them would blow up.
bool isSafeBinary(std::string_view bytes);

// XML holding no NUL byte and no array or dictionary nested deeper than kMaxDepth, read the way
// libplist reads tags, comments and quoted attributes.
bool isSafeXml(std::string_view bytes);

// Text that other property-list readers accept inside XML: valid UTF-8 without NUL or control
// characters other than tab, line feed and carriage return.
bool isXmlText(std::string_view text);

} // namespace platform::plist::detail
