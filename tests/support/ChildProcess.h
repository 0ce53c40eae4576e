#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sonvela::test {

// A program of the test's own, started with posix_spawn in exactly the environment given (none
// of the test process's variables leak in), its standard output and error appended to a file.
// It is stopped by its pid: the destructor sends SIGTERM, then SIGKILL, and reaps it.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& outputPath);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    void signal(int number);

    // Waits for the end, up to the deadline: the exit code, or 128 + the signal that ended it.
    std::optional<int> waitForExit(std::chrono::milliseconds deadline);

    // SIGTERM, then SIGKILL when it is still there after the grace period; the exit code as above.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

    // kill -9, and reaped, so its socket is left behind as after a crash.
    void kill();

    // Waits until a connection to the unix socket at the path succeeds; false when this process
    // ended first or the deadline passed.
    bool waitForSocket(const std::string& path,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10));

private:
    bool reap(int options);

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

} // namespace sonvela::test
