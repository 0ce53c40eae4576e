#include "platform/prefs/PreferencesFile.h"

#include "platform/fs/FileManager.h"
#include "platform/log/Log.h"
#include "platform/plist/PlistFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::prefs {

namespace {

// Held while a file is read, changed and written, so that two processes changing different
// keys of the same file never lose one another's change.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

std::string parentOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Renames without replacing anything that is already at the target.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // The file system has no such rename; the folder lock keeps other writers of ours out.
    if (fs::exists(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

PreferencesFile::PreferencesFile(std::string path, mode_t folderMode)
    : path_(std::move(path)), folder_(parentOf(path_)), folderMode_(folderMode) {}

std::optional<plist::Dictionary> PreferencesFile::read() const {
    if (!fs::exists(path_)) {
        return plist::Dictionary{};
    }
    return plist::readDictionary(path_);
}

bool PreferencesFile::apply(const PendingChanges& changes) const {
    if (!makeFolders()) {
        return false;
    }
    FolderLock lock(folder_);
    std::optional<plist::Dictionary> values = read();
    if (!values) {
        if (!moveAside()) {
            return false;
        }
        values.emplace();
    }
    for (const auto& [key, value] : changes) {
        if (value) {
            (*values)[key] = *value;
        } else {
            values->erase(key);
        }
    }
    return plist::writeXmlAtomically(path_, *values);
}

bool PreferencesFile::makeFolders() const {
    if (isDirectory(folder_)) {
        return true;
    }
    // Folders are made from the top down; one that already exists is passed over.
    for (std::size_t slash = folder_.find('/', 1);; slash = folder_.find('/', slash + 1)) {
        std::string step = slash == std::string::npos ? folder_ : folder_.substr(0, slash);
        if (!isDirectory(step) && ::mkdir(step.c_str(), folderMode_) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return isDirectory(folder_);
        }
    }
}

bool PreferencesFile::moveAside() const {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string aside =
            path_ + (attempt == 0 ? "" : "." + std::to_string(attempt)) + ".corrupt";
        if (renameWithoutReplacing(path_, aside)) {
            log::nslog("preferences file %s could not be read; moved it aside to %s", path_.c_str(),
                       aside.c_str());
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    log::nslog("preferences file %s could not be read nor moved aside (%s); left it as it is",
               path_.c_str(), std::strerror(errno));
    return false;
}

} // namespace platform::prefs
