#include "platform/fs/TempFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::fs {

namespace {

constexpr std::size_t kRandomPart = 6; // mkostemp's XXXXXX
constexpr int kAttempts = 10;

bool isAsciiAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isTempName(const std::string& entry, const std::string& prefix) {
    if (entry.size() != prefix.size() + kRandomPart ||
        entry.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < entry.size(); ++i) {
        if (!isAsciiAlphanumeric(entry[i])) {
            return false;
        }
    }
    return true;
}

bool namesFile(int folder, const char* name, const FileDescriptor& file) {
    struct stat st {};
    return fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           file.identity() == FileIdentity{st.st_dev, st.st_ino};
}

bool lockWaiting(int fd) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

void removeLeftovers(const std::string& folder, const std::string& prefix) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), &closedir);
    if (!listing) {
        return;
    }
    int dir = dirfd(listing.get());
    while (const dirent* entry = readdir(listing.get())) {
        if (!isTempName(entry->d_name, prefix)) {
            continue;
        }
        FileDescriptor file(
            openat(dir, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        // The name is looked at again once the lock is ours: its writer may have renamed it
        // into place and ended in between, and the file we hold is then the target.
        if (file.valid() && fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) &&
            flock(file.get(), LOCK_EX | LOCK_NB) == 0 && namesFile(dir, entry->d_name, file)) {
            unlinkat(dir, entry->d_name, 0);
        }
    }
}

} // namespace

TempFile::TempFile(const std::string& folder, const std::string& name) {
    const std::string prefix = "." + name + ".";
    removeLeftovers(folder, prefix);
    for (int attempt = 0; attempt < kAttempts && !valid(); ++attempt) {
        std::string path = folder + "/" + prefix + std::string(kRandomPart, 'X');
        FileDescriptor file(mkostemp(path.data(), O_CLOEXEC));
        if (!file.valid()) {
            return;
        }
        // Until the lock is ours another writer may take the file for a leftover and remove
        // it; then we start again under a new name. Without flock (some network file systems)
        // nobody can remove anybody's file and we go on as we are.
        bool locked = lockWaiting(file.get());
        FileDescriptor lock(fcntl(file.get(), F_DUPFD_CLOEXEC, 0));
        if (!lock.valid()) {
            unlink(path.c_str());
            return;
        }
        if (!locked || namesFile(AT_FDCWD, path.c_str(), file)) {
            path_ = std::move(path);
            file_ = std::move(file);
            lock_ = std::move(lock);
        }
    }
}

TempFile::~TempFile() {
    if (valid()) {
        unlink(path_.c_str());
    }
}

bool TempFile::finish(mode_t mode) {
    return fchmod(file_.get(), mode) == 0 && fsync(file_.get()) == 0 && file_.reset();
}

} // namespace platform::fs
