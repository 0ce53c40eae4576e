#include "platform/process/ProcessExit.h"

#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace platform::process {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The one-letter state of a thread, or 0 when it cannot be read (it has gone).
char threadState(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string stat;
    std::getline(in, stat);
    // "pid (name) S ...": the name may hold spaces and parentheses of its own.
    std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

} // namespace

bool processIsAlive(pid_t pid) {
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::unique_ptr<DIR, DirCloser> dir(::opendir(tasks.c_str()));
    if (!dir) {
        return false;
    }
    while (dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        char state = threadState(tasks + "/" + entry->d_name + "/stat");
        if (state != 0 && state != 'Z' && state != 'X') {
            return true;
        }
    }
    return false;
}

bool waitUntilEnded(pid_t pid, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (processIsAlive(pid)) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace platform::process
