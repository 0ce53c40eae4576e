#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace sonvela::test {

// Every process (but this one) whose environment holds HOME=<home>: whatever a test started
// with its temporary home, directly or through launchers and sessions of their own.
std::vector<pid_t> processesOfHome(const std::string& home);

// The kernel's name of a process ("" when it is gone).
std::string processName(pid_t pid);

// Whether the process exists and has not ended (a zombie has).
bool isAlive(pid_t pid);

// The living processes of the home with that kernel name.
std::vector<pid_t> processesNamed(const std::string& home, const std::string& name);

// Stops every process of the home with SIGKILL when it goes out of scope, whatever the test's
// outcome, and waits until they have ended. Declare it after the TempHome it sweeps for.
class StrayProcesses {
public:
    explicit StrayProcesses(std::string home) : home_(std::move(home)) {}
    ~StrayProcesses() { killAll(); }
    StrayProcesses(const StrayProcesses&) = delete;
    StrayProcesses& operator=(const StrayProcesses&) = delete;

    void killAll() const;

private:
    std::string home_;
};

} // namespace sonvela::test
