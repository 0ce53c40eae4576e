#include "platform/fs/FileManager.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::fs {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

    // close() reports write errors some file systems only notice then.
    bool reset() {
        bool ok = fd_ < 0 || close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

struct PathParts {
    std::string folder;
    std::string name;
};

std::optional<PathParts> splitPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    if (slash == std::string::npos) {
        return PathParts{".", name};
    }
    return PathParts{slash == 0 ? "/" : path.substr(0, slash), name};
}

// A hidden temporary file next to the target, removed again unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(const PathParts& target)
        : path_(target.folder + "/." + target.name + ".XXXXXX"),
          fd_(mkostemp(path_.data(), O_CLOEXEC)) {
        if (fd_.get() < 0) {
            path_.clear();
        }
    }
    ~TempFile() {
        fd_.reset();
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return !path_.empty(); }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    void renamedAway() { path_.clear(); }

    bool finish(mode_t mode) {
        return fchmod(fd_.get(), mode) == 0 && fsync(fd_.get()) == 0 && fd_.reset();
    }

private:
    std::string path_;
    FileDescriptor fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno != EINTR) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n > 0 ? n : 0));
    }
    return true;
}

bool copyContents(int from, int to) {
    char buffer[64 * 1024];
    while (true) {
        ssize_t n = read(from, buffer, sizeof buffer);
        if (n == 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
        if (n > 0 && !writeAll(to, std::string_view(buffer, static_cast<std::size_t>(n)))) {
            return false;
        }
    }
}

// Makes the new name itself survive a crash, not only the file's contents.
void syncFolder(const std::string& folder) {
    FileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        fsync(dir.get());
    }
}

mode_t modeToKeep(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return st.st_mode & 0777;
    }
    return 0644;
}

// link() fails when anything exists at the target, so a racing copy can never be overwritten.
// Some file systems have no hard links; renaming with RENAME_NOREPLACE gives the same promise.
bool linkWithoutReplacing(TempFile& temp, const std::string& to) {
    if (link(temp.path().c_str(), to.c_str()) == 0) {
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) {
        return false;
    }
    if (syscall(SYS_renameat2, AT_FDCWD, temp.path().c_str(), AT_FDCWD, to.c_str(),
                RENAME_NOREPLACE) != 0) {
        return false;
    }
    temp.renamedAway();
    return true;
}

} // namespace

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool createDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    std::optional<PathParts> parts = splitPath(path);
    if (!parts) {
        return false;
    }
    TempFile temp(*parts);
    if (!temp.valid() || !writeAll(temp.fd(), bytes) || !temp.finish(modeToKeep(path)) ||
        rename(temp.path().c_str(), path.c_str()) != 0) {
        return false;
    }
    temp.renamedAway();
    // The new file is in place: a failed folder sync cannot be undone, so it is not a failure.
    syncFolder(parts->folder);
    return true;
}

bool copyItem(const std::string& from, const std::string& to) {
    std::optional<PathParts> parts = splitPath(to);
    struct stat st {};
    // Checked before opening so that a device or FIFO is never opened; the existing target is
    // only an early answer, link() is what guarantees it is never replaced.
    if (!parts || stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || exists(to)) {
        return false;
    }
    FileDescriptor source(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (source.get() < 0 || fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    TempFile temp(*parts);
    if (!temp.valid() || !copyContents(source.get(), temp.fd()) ||
        !temp.finish(st.st_mode & 0777) || !linkWithoutReplacing(temp, to)) {
        return false;
    }
    syncFolder(parts->folder);
    return true;
}

} // namespace platform::fs
