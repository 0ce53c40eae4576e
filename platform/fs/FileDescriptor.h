#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>

namespace platform::fs {

// Which file a path or a descriptor leads to: the same pair is the same file.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The file the path names now, symlinks followed; nullopt when there is none.
std::optional<FileIdentity> identityAt(const std::string& path);

// Owns an open file descriptor and closes it.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    std::optional<FileIdentity> identity() const;

    // Gives the descriptor up without closing it: it stays open for the rest of the process.
    int release() { return std::exchange(fd_, -1); }
    // False when close() fails: some file systems report write errors only then.
    bool reset();

private:
    int fd_ = -1;
};

} // namespace platform::fs
