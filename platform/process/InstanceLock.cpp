#include "platform/process/InstanceLock.h"

#include "platform/bundle/Bundle.h"
#include "platform/log/Log.h"
#include "platform/paths/SearchPath.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::process {

namespace {

constexpr std::size_t kMaxIdentifierLength = 200;

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxIdentifierLength && name.front() != '.' &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

bool sameFile(int fd, const struct stat& file) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

std::optional<std::string> InstanceLock::pathFor(const std::string& identifier) {
    std::optional<std::string> folder =
        paths::runtimeDirectory(paths::RuntimeFallback::LogindFolder);
    if (!folder || !isPlainFileName(identifier)) {
        return std::nullopt;
    }
    return *folder + "/" + identifier + ".lock";
}

InstanceLock::InstanceLock(const std::string& identifier) {
    std::optional<std::string> path = pathFor(identifier);
    if (!path) {
        return;
    }
    fd_ = fs::FileDescriptor(
        ::open(path->c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!fd_.valid()) {
        return;
    }
    int result = -1;
    while ((result = ::flock(fd_.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0) {
        state_ = State::Taken;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::HeldElsewhere;
    }
}

bool InstanceLock::adoptInherited() const {
    struct stat file {};
    if (!fd_.valid() || ::fstat(fd_.get(), &file) != 0) {
        return false;
    }
    std::unique_ptr<DIR, DirCloser> dir(::opendir("/proc/self/fd"));
    if (!dir) {
        return false;
    }
    bool found = false;
    while (dirent* entry = ::readdir(dir.get())) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == fd_.get() || fd == ::dirfd(dir.get())) {
            continue;
        }
        if (sameFile(static_cast<int>(fd), file)) {
            ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
            found = true;
        }
    }
    return found;
}

void InstanceLock::keepForLife() {
    fd_.release();
}

bool claimSingleInstance() {
    std::optional<plist::Value> identifier = bundle::Bundle::main().infoValue("CFBundleIdentifier");
    if (!identifier || !identifier->is<std::string>()) {
        return true;
    }
    const std::string& name = *identifier->get<std::string>();
    InstanceLock lock(name);
    switch (lock.state()) {
    case InstanceLock::State::Taken:
        lock.keepForLife();
        return true;
    case InstanceLock::State::Unavailable:
        log::nslog("no lock file for %s; running without the guard against a second copy",
                   name.c_str());
        return true;
    case InstanceLock::State::HeldElsewhere:
        break;
    }
    if (lock.adoptInherited()) {
        return true;
    }
    log::nslog("%s is already running; this copy ends", name.c_str());
    return false;
}

} // namespace platform::process
