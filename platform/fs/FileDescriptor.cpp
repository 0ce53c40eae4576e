#include "platform/fs/FileDescriptor.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform::fs {

std::optional<FileIdentity> identityAt(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<FileIdentity> FileDescriptor::identity() const {
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{st.st_dev, st.st_ino};
}

bool FileDescriptor::reset() {
    bool ok = fd_ < 0 || close(fd_) == 0;
    fd_ = -1;
    return ok;
}

} // namespace platform::fs
