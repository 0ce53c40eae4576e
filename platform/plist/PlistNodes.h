#pragma once

#include "platform/plist/PlistValue.h"

#include <plist/plist.h>

#include <memory>
#include <optional>

// Moves values between Value and libplist's node trees.
namespace platform::plist::detail {

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using NodePtr = std::unique_ptr<void, NodeDeleter>;

// The tree as a Value; nullopt when it nests deeper than kMaxDepth or holds a node kind Value
// has no place for.
std::optional<Value> fromNode(plist_t node);

// The value as a libplist tree; null when it nests deeper than kMaxDepth, holds text that XML
// cannot carry or a date libplist cannot write.
NodePtr toNode(const Value& value);

} // namespace platform::plist::detail
