#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace sonvela::test {

// A private session bus: dbus-daemon listening on the unix socket at the path, started in the
// environment given, once it accepts connections. Throws std::runtime_error, with its output,
// when it does not come up.
std::unique_ptr<ChildProcess> startSessionBus(const std::string& socket,
                                              const std::vector<std::string>& environment,
                                              const std::string& outputPath);

} // namespace sonvela::test
