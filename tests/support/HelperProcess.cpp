#include "tests/support/HelperProcess.h"

#include "tests/support/TempHome.h"

#include <cstdlib>
#include <sstream>

namespace sonvela::test {

namespace {

constexpr const char* kRestoreMark = "output type: ";

} // namespace

HelperProcess::HelperProcess(const std::string& executable, const std::string& home,
                             const std::string& serverAddress)
    : logPath_(home + "/helper.log") {
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {
        "HOME=" + home,
        "XDG_CONFIG_HOME=" + home + "/.config",
        "XDG_RUNTIME_DIR=" + home + "/run",
        "PULSE_SERVER=" + serverAddress,
        std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
    };
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{executable}, environment,
                                              logPath_);
}

std::string HelperProcess::log() const { return readAll(logPath_); }

std::vector<std::string> HelperProcess::restores() const {
    // "… output type: hdpn, volume: 0.750000"
    std::vector<std::string> found;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) {
        if (lines.eof()) {
            break; // a line still being written
        }
        auto at = line.find(kRestoreMark);
        auto comma = line.find(", volume: ", at);
        if (at == std::string::npos || comma == std::string::npos) {
            continue;
        }
        auto type = line.substr(at + std::string(kRestoreMark).size(),
                                comma - at - std::string(kRestoreMark).size());
        found.push_back(type + " " + line.substr(comma + std::string(", volume: ").size()));
    }
    return found;
}

std::size_t HelperProcess::countLines(const std::string& text) const {
    std::size_t count = 0;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) {
        count += line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

} // namespace sonvela::test
