#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

// An <integer> element whose number fits in no 64-bit form: libplist would read it as another
// number. Where the element stands and the number as written.
struct OversizedInteger {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string digits;
};

// XML holding no NUL byte and no array or dictionary nested deeper than kMaxDepth, read the way
// libplist reads tags, comments and quoted attributes. Oversized integers are listed in order
// when `oversized` is given.
bool isSafeXml(std::string_view bytes, std::vector<OversizedInteger>* oversized = nullptr);

// Text that other property-list readers accept inside XML: valid UTF-8 without NUL or control
// characters other than tab, line feed and carriage return.
bool isXmlText(std::string_view text);

} // namespace platform::plist::detail
