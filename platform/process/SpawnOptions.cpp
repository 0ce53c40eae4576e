#include "platform/process/SpawnOptions.h"

#include <cerrno>
#include <csignal>

namespace platform::process {

SpawnOptions::SpawnOptions() {
    check(posix_spawn_file_actions_init(&actions_));
    check(posix_spawnattr_init(&attributes_));
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    check(posix_spawnattr_setsigmask(&attributes_, &none));
    check(posix_spawnattr_setsigdefault(&attributes_, &all));
    flags_ = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
}

SpawnOptions::~SpawnOptions() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
}

void SpawnOptions::connect(int parentFd, int childFd) {
    check(posix_spawn_file_actions_adddup2(&actions_, parentFd, childFd));
}

void SpawnOptions::keepOpen(int fd) {
    // A dup2 onto itself clears close-on-exec in the child alone (glibc 2.29 and later), so
    // children that other threads start meanwhile do not get the descriptor.
    check(posix_spawn_file_actions_adddup2(&actions_, fd, fd));
}

void SpawnOptions::openFile(int childFd, const char* path, int flags) {
    check(posix_spawn_file_actions_addopen(&actions_, childFd, path, flags, 0));
}

void SpawnOptions::changeDirectory(const char* path) {
    check(posix_spawn_file_actions_addchdir_np(&actions_, path));
}

void SpawnOptions::startNewSession() {
    flags_ |= POSIX_SPAWN_SETSID;
}

pid_t SpawnOptions::spawn(const std::string& program, const std::vector<std::string>& arguments,
                          char* const* environment) {
    check(posix_spawnattr_setflags(&attributes_, flags_));
    if (error_ != 0) {
        errno = error_;
        return -1;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error =
        posix_spawn(&pid, program.c_str(), &actions_, &attributes_, argv.data(), environment);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

void SpawnOptions::check(int error) {
    if (error_ == 0) {
        error_ = error;
    }
}

} // namespace platform::process
