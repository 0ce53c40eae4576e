#pragma once

#include "platform/fs/FileDescriptor.h"
#include "platform/plist/PlistValue.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::plist {

// Files larger than this are not property lists we wrote or would ever need to read.
inline constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;
// Deeper nesting than this is refused before the parser sees it: the parser recurses.
inline constexpr int kMaxDepth = 256;

// Parses XML or binary property-list bytes (told apart by their first bytes). Broken, oversized,
// too deeply nested or otherwise unsafe input gives nullopt and never takes the program down.
std::optional<Value> parse(std::string_view bytes);

// The value as Apple-style XML, or nullopt when it holds something XML cannot carry (a key or
// string with a NUL, a control character or invalid UTF-8) or would be larger than kMaxFileSize.
std::optional<std::string> toXml(const Value& root);

// Reads a whole property-list file; nullopt when it is missing, not a regular file, unreadable
// or not a property list.
std::optional<Value> readFile(const std::string& path);
// The same from a file that is open already (as fs::openRegularFile gives it), from where it
// stands to its end; nullopt for an invalid descriptor.
std::optional<Value> readFile(const fs::FileDescriptor& file);

// Reads a file whose root is a dictionary; nullopt for anything else.
std::optional<Dictionary> readDictionary(const std::string& path);
std::optional<Dictionary> readDictionary(const fs::FileDescriptor& file);

// The value of one key of the dictionary; nullopt without the dictionary or the key.
std::optional<Value> valueForKey(std::optional<Dictionary> table, const std::string& key);
// The value of one key of a dictionary file; nullopt when the file cannot be read as one or
// has no such key.
std::optional<Value> readValue(const std::string& path, const std::string& key);

// Writes the value as XML through a temporary file in the same folder that is flushed and then
// renamed over the target. On failure the old file stays whole and no temporary file is left.
bool writeXmlAtomically(const std::string& path, const Value& root);

} // namespace platform::plist
