#pragma once

#include "platform/fs/FileDescriptor.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform::fs {

// Whether anything (file, folder, device, dangling symlink) exists at the path.
bool exists(const std::string& path);

// Whether the path leads to a folder, symlinks followed.
bool isDirectory(const std::string& path);

// The path without its last component: "." for a bare name, "/" for a name in the root.
std::string parentOf(const std::string& path);

// Creates one folder; its parent must exist. False when it could not be made.
bool createDirectory(const std::string& path);

// Creates the folder and every missing folder above it with exactly this mode, whatever the
// umask; folders that exist are left as they are. True when the path is a folder at the end.
bool createDirectories(const std::string& path, mode_t mode);

// Opens a regular file to read. Devices and FIFOs are never opened, also when the path is
// swapped in between, so reading never blocks; an invalid descriptor for anything else.
FileDescriptor openRegularFile(const std::string& path);

// The bytes from the descriptor's position to the end; nullopt on a read error or when there
// are more than maxSize. A file that is larger already is refused before anything is read.
std::optional<std::string> readToEnd(int fd, std::size_t maxSize);

// Writes bytes through a temporary file in the target's folder: written, fsync'ed, renamed over
// the target. On failure the old file stays whole and the temporary file is removed.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

enum class WriteOutcome { Written, Changed, Failed };

// writeFileAtomically, but only while the path still names the file that was read (expected),
// or nothing when expected is nullopt: Changed, and nothing written, when it names another.
// Linux has no rename that compares first, so a file that a writer who takes none of our locks
// puts there in the instant between the check and the rename is replaced all the same.
WriteOutcome writeFileAtomicallyIfUnchanged(const std::string& path, std::string_view bytes,
                                            const std::optional<FileIdentity>& expected);

// Copies a regular file to a path where nothing exists. A reader never sees a half-written
// target and an existing target is never replaced, also when another process races us.
bool copyItem(const std::string& from, const std::string& to);

} // namespace platform::fs
