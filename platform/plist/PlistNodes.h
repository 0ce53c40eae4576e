#pragma once

#include "platform/plist/PlistValue.h"

#include <plist/plist.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Moves values between Value and libplist's node trees.
namespace platform::plist::detail {

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using NodePtr = std::unique_ptr<void, NodeDeleter>;

// Values libplist cannot carry exactly travel through it as string nodes holding a stand-in,
// "\x01<n>\x01": no text of our own holds that byte, XML cannot.
inline constexpr char kStandInMark = '\x01';
std::string standInFor(std::size_t index);
std::optional<std::size_t> standInIndex(std::string_view text);

// The tree as a Value, the n-th stand-in read as oversized[n]; nullopt when it nests deeper than
// kMaxDepth, holds a node kind Value has no place for, or stand-ins other than those expected.
std::optional<Value> fromNode(plist_t node, const std::vector<std::string>& oversized = {});

// The value as a libplist tree; null when it nests deeper than kMaxDepth, holds text that XML
// cannot carry or a date libplist cannot write. Values the XML writer would change become
// stand-ins; the n-th one's exact XML element is exactElements[n].
NodePtr toNode(const Value& value, std::vector<std::string>& exactElements);

} // namespace platform::plist::detail
