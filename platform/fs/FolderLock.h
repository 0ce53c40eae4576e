#pragma once

#include "platform/fs/FileDescriptor.h"

#include <string>

namespace platform::fs {

// An exclusive lock on a folder, held while the object lives, so that processes changing the
// files in it take turns. The kernel lets go of it when a holder dies, however it dies. A
// process must not take the same folder's lock twice: the second would wait for the first.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);

    // False when the folder could not be opened or locked.
    bool held() const { return held_; }

private:
    FileDescriptor folder_;
    bool held_ = false;
};

} // namespace platform::fs
