#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TempHome.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonvela::test {

// A private session bus (dbus-daemon on the unix socket at the path) once it accepts
// connections; std::runtime_error, with its output, when it does not come up.
inline std::unique_ptr<ChildProcess> startSessionBus(const std::string& socket,
                                                     const std::vector<std::string>& environment,
                                                     const std::string& outputPath) {
    auto bus = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                 "--address=unix:path=" + socket},
        environment, outputPath);
    if (!bus->waitForSocket(socket)) {
        throw std::runtime_error("no session bus on " + socket + ":\n" + readAll(outputPath));
    }
    return bus;
}

} // namespace sonvela::test
