#include "tests/support/HelperProcess.h"

#include "tests/support/TempHome.h"

#include <cstdlib>
#include <sstream>

namespace sonvela::test {

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
    process_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{executable}, environment, logPath_);
}

std::string HelperProcess::log() const {
    return readAll(logPath_);
}

std::vector<std::string> HelperProcess::restores() const {
    // "output type: hdpn, volume: 0.750000" becomes "hdpn 0.750000".
    const std::string mark = "output type: ", separator = ", volume: ";
    std::vector<std::string> found;
    for (const std::string& message : messages(mark)) {
        auto comma = message.find(separator);
        if (message.starts_with(mark) && comma != std::string::npos) {
            found.push_back(message.substr(mark.size(), comma - mark.size()) + " " +
                            message.substr(comma + separator.size()));
        }
    }
    return found;
}

std::vector<std::string> HelperProcess::messages(const std::string& holding) const {
    std::vector<std::string> found;
    std::istringstream lines(log());
    // The last line may still be being written; getline leaves eof set only after it.
    for (std::string line; std::getline(lines, line) && !lines.eof();) {
        // "2026-12-06 20:13:50.123 Sonvela Helper[12:12] message"
        auto start = line.find("] ");
        if (start != std::string::npos && line.find(holding, start) != std::string::npos) {
            found.push_back(line.substr(start + 2));
        }
    }
    return found;
}

} // namespace sonvela::test
