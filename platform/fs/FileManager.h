#pragma once

#include <string>
#include <string_view>

namespace platform::fs {

// Whether anything (file, folder, device, dangling symlink) exists at the path.
bool exists(const std::string& path);

// Creates one folder; its parent must exist. False when it could not be made.
bool createDirectory(const std::string& path);

// Writes bytes through a temporary file in the target's folder: written, fsync'ed, renamed over
// the target. On failure the old file stays whole and the temporary file is removed.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

// Copies a regular file to a path where nothing exists. A reader never sees a half-written
// target and an existing target is never replaced, also when another process races us.
bool copyItem(const std::string& from, const std::string& to);

} // namespace platform::fs
