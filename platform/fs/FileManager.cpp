#include "platform/fs/FileManager.h"

#include "platform/fs/TempFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::fs {

namespace {

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
    if (dir.valid()) {
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

enum class Condition { None, SameFile, NothingThere };

WriteOutcome writeThroughTempFile(const std::string& path, std::string_view bytes,
                                  Condition condition,
                                  const std::optional<FileIdentity>& expected = std::nullopt) {
    std::optional<PathParts> parts = splitPath(path);
    if (!parts) {
        return WriteOutcome::Failed;
    }
    TempFile temp(parts->folder, parts->name);
    if (!temp.valid() || !writeAll(temp.fd(), bytes) || !temp.finish(modeToKeep(path))) {
        return WriteOutcome::Failed;
    }
    if (condition == Condition::NothingThere) {
        if (!linkWithoutReplacing(temp, path)) {
            return errno == EEXIST ? WriteOutcome::Changed : WriteOutcome::Failed;
        }
    } else {
        if (condition == Condition::SameFile && identityAt(path) != expected) {
            return WriteOutcome::Changed;
        }
        if (rename(temp.path().c_str(), path.c_str()) != 0) {
            return WriteOutcome::Failed;
        }
        temp.renamedAway();
    }
    // The new file is in place: a failed folder sync cannot be undone, so it is not a failure.
    syncFolder(parts->folder);
    return WriteOutcome::Written;
}

} // namespace

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool createDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

bool createDirectories(const std::string& path, mode_t mode) {
    if (isDirectory(path)) {
        return true;
    }
    // From the top down; a folder that another process makes at the same moment is passed over.
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string step = slash == std::string::npos ? path : path.substr(0, slash);
        if (!step.empty() && !isDirectory(step)) {
            if (mkdir(step.c_str(), mode) == 0) {
                chmod(step.c_str(), mode);
            } else if (errno != EEXIST) {
                return false;
            }
        }
        if (slash == std::string::npos) {
            return isDirectory(path);
        }
    }
}

FileDescriptor openRegularFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return FileDescriptor();
    }
    // O_NONBLOCK keeps a FIFO swapped in after the stat from blocking the open.
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file.valid() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return FileDescriptor();
    }
    return file;
}

std::optional<std::string> readToEnd(int fd, std::size_t maxSize) {
    struct stat st {};
    off_t position = lseek(fd, 0, SEEK_CUR);
    if (fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    // What a regular file holds beyond the cap is known before a byte of it is read.
    std::size_t expected = 0;
    if (S_ISREG(st.st_mode) && position >= 0 && st.st_size > position) {
        expected = static_cast<std::size_t>(st.st_size - position);
        if (expected > maxSize) {
            return std::nullopt;
        }
    }
    std::string bytes;
    bytes.reserve(expected);
    char buffer[64 * 1024];
    while (bytes.size() <= maxSize) {
        std::size_t room = std::min(sizeof buffer, maxSize + 1 - bytes.size());
        ssize_t n = read(fd, buffer, room);
        if (n == 0) {
            return bytes;
        }
        if (n < 0 && errno != EINTR) {
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    return std::nullopt;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    return writeThroughTempFile(path, bytes, Condition::None) == WriteOutcome::Written;
}

WriteOutcome writeFileAtomicallyIfUnchanged(const std::string& path, std::string_view bytes,
                                            const std::optional<FileIdentity>& expected) {
    return writeThroughTempFile(path, bytes,
                                expected ? Condition::SameFile : Condition::NothingThere, expected);
}

bool copyItem(const std::string& from, const std::string& to) {
    std::optional<PathParts> parts = splitPath(to);
    // The existing target is only an early answer; link() is what guarantees it is never
    // replaced.
    if (!parts || exists(to)) {
        return false;
    }
    FileDescriptor source = openRegularFile(from);
    struct stat st {};
    if (!source.valid() || fstat(source.get(), &st) != 0) {
        return false;
    }
    TempFile temp(parts->folder, parts->name);
    if (!temp.valid() || !copyContents(source.get(), temp.fd()) ||
        !temp.finish(st.st_mode & 0777) || !linkWithoutReplacing(temp, to)) {
        return false;
    }
    syncFolder(parts->folder);
    return true;
}

} // namespace platform::fs
