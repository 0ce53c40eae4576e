#include "tests/support/StrayProcesses.h"

#include "tests/support/Eventually.h"
#include "tests/support/TempHome.h"

#include <csignal>
#include <filesystem>
#include <unistd.h>

namespace sonvela::test {

namespace {

bool hasHome(pid_t pid, const std::string& home) {
    std::string environment = readAll("/proc/" + std::to_string(pid) + "/environ");
    std::string wanted = "HOME=" + home;
    std::size_t start = 0;
    while (start < environment.size()) {
        std::size_t end = environment.find('\0', start);
        if (end == std::string::npos) {
            end = environment.size();
        }
        if (environment.compare(start, end - start, wanted) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

std::vector<pid_t> processesOfHome(const std::string& home) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        pid_t pid = std::stoi(name);
        if (pid != getpid() && hasHome(pid, home)) {
            found.push_back(pid);
        }
    }
    return found;
}

std::string processName(pid_t pid) {
    std::string name = readAll("/proc/" + std::to_string(pid) + "/comm");
    if (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

bool isAlive(pid_t pid) {
    std::string status = readAll("/proc/" + std::to_string(pid) + "/status");
    return !status.empty() && status.find("\nState:\tZ") == std::string::npos;
}

std::vector<pid_t> processesNamed(const std::string& home, const std::string& name) {
    std::vector<pid_t> found = processesOfHome(home);
    std::erase_if(found, [&](pid_t pid) { return processName(pid) != name || !isAlive(pid); });
    return found;
}

void StrayProcesses::killAll() const {
    std::vector<pid_t> pids = processesOfHome(home_);
    for (pid_t pid : pids) {
        ::kill(pid, SIGKILL);
    }
    for (pid_t pid : pids) {
        eventually([pid] { return !isAlive(pid); });
    }
}

} // namespace sonvela::test
