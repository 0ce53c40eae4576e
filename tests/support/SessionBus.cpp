#include "tests/support/SessionBus.h"

#include "tests/support/TempHome.h"

#include <stdexcept>

namespace sonvela::test {

std::unique_ptr<ChildProcess> startSessionBus(const std::string& socket,
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
