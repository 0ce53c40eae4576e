#pragma once

#include "tests/support/Eventually.h"
#include "tests/support/TempHome.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace sonvela::test {

// The kernel's name of a process ("" when it is gone).
inline std::string processName(pid_t pid) {
    std::string name = readAll("/proc/" + std::to_string(pid) + "/comm");
    return name.substr(0, name.find('\n'));
}

// Whether the process exists and has not ended (a zombie has).
inline bool isAlive(pid_t pid) {
    std::string status = readAll("/proc/" + std::to_string(pid) + "/status");
    return !status.empty() && status.find("\nState:\tZ") == std::string::npos;
}

// The living processes but this one whose environment holds HOME=<home>, whatever started them,
// that have the kernel name (any name when it is empty).
inline std::vector<pid_t> processesNamed(const std::string& home, const std::string& name) {
    std::vector<pid_t> found;
    std::string wanted = std::string(1, '\0') + "HOME=" + home + '\0';
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        pid_t pid = std::atoi(entry.path().filename().c_str());
        std::string environment = '\0' + readAll(entry.path() / "environ") + '\0';
        if (pid > 0 && pid != getpid() && environment.find(wanted) != std::string::npos &&
            isAlive(pid) && (name.empty() || processName(pid) == name)) {
            found.push_back(pid);
        }
    }
    return found;
}

// Stops every process of the home with SIGKILL when it goes out of scope, whatever the test's
// outcome, and waits until they have ended. Declare it after the TempHome it sweeps for.
struct StrayProcesses {
    ~StrayProcesses() { killAll(); }
    void killAll() const {
        eventually([this] {
            for (pid_t pid : processesNamed(home, "")) {
                ::kill(pid, SIGKILL);
            }
            return processesNamed(home, "").empty();
        });
    }
    std::string home;
};

} // namespace sonvela::test
