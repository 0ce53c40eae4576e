#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace sonvela::test {

// The built Sonvela Helper as a process of its own, with the test's home and sound server and
// nothing else of the test's environment; its log lines go to a file.
class HelperProcess {
public:
    HelperProcess(const std::string& executable, const std::string& home,
                  const std::string& serverAddress);

    ChildProcess& process() { return *process_; }
    std::string log() const;
    // The restores logged so far, in order, each as "hdpn 0.750000".
    std::vector<std::string> restores() const;
    // The messages logged so far that hold the text, in order, without the time and name.
    std::vector<std::string> messages(const std::string& holding) const;

private:
    std::string logPath_;
    std::unique_ptr<ChildProcess> process_;
};

} // namespace sonvela::test
