#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace sonvela::test {

// Makes <folder>/<name>.app with an Info.plist naming the executable and the identifier (an
// empty one is left out), and bin/<executable> holding the text, executable by everyone.
// Returns the bundle's path.
std::string makeBundle(const std::string& folder, const std::string& name,
                       const std::string& identifier, const std::string& executable,
                       const std::string& programText);

// A program that appends its process id to $HOME/started and then waits as "sleep".
inline constexpr const char* kStandInProgram = "#!/bin/sh\n"
                                               "echo \"$$\" >> \"$HOME/started\"\n"
                                               "exec sleep 1000\n";

// The process ids the stand-in programs of the home have written so far.
std::vector<pid_t> startedPids(const std::string& home);

} // namespace sonvela::test
