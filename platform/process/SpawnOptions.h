#pragma once

#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::process {

// What posix_spawn is to do in the child before it runs the program. The child always starts
// with no signal blocked and every signal at its default action, whatever the caller blocks
// or ignores: a program that inherited a blocked SIGTERM could not be stopped.
class SpawnOptions {
public:
    SpawnOptions();
    ~SpawnOptions();
    SpawnOptions(const SpawnOptions&) = delete;
    SpawnOptions& operator=(const SpawnOptions&) = delete;

    // The child gets parentFd as childFd.
    void connect(int parentFd, int childFd);
    // The child keeps fd, although it is close-on-exec here.
    void keepOpen(int fd);
    void openFile(int childFd, const char* path, int flags);
    void changeDirectory(const char* path);
    void startNewSession();

    // Starts program (an absolute path) with the arguments as argv[1...] and argv[0] the
    // program itself. The child's id, or -1 with errno set.
    pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
                char* const* environment);

private:
    void check(int error);

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    short flags_ = 0;
    int error_ = 0;
};

} // namespace platform::process
