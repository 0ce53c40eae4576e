#include "platform/fs/FolderLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace platform::fs {

FolderLock::FolderLock(const std::string& folder)
    : folder_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    while (folder_.valid() && !held_) {
        held_ = flock(folder_.get(), LOCK_EX) == 0;
        if (!held_ && errno != EINTR) {
            break;
        }
    }
}

} // namespace platform::fs
