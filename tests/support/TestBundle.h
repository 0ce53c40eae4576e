#pragma once

#include "platform/plist/PlistFile.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <iterator>
#include <sstream>

namespace sonvela::test {

// Makes <folder>/<name>.app: an Info.plist naming the executable and the identifier (left out
// when empty), Resources/, and bin/<executable> holding the text, executable by everyone.
inline std::string makeBundle(const std::string& folder, const std::string& name,
                              const std::string& identifier, const std::string& executable,
                              const std::string& programText) {
    namespace plist = platform::plist;
    std::string bundle = folder + "/" + name + ".app";
    makeDirs(bundle + "/bin");
    makeDirs(bundle + "/Resources");
    plist::Dictionary info{{"CFBundleExecutable", plist::Value(executable)}};
    if (!identifier.empty()) {
        info["CFBundleIdentifier"] = plist::Value(identifier);
    }
    plist::writeXmlAtomically(bundle + "/Info.plist", info);
    writeAll(bundle + "/bin/" + executable, programText);
    std::filesystem::permissions(bundle + "/bin/" + executable, std::filesystem::perms(0755));
    return bundle;
}

// A program that appends its process id to $HOME/started and then waits as "sleep".
inline constexpr const char* kStandInProgram = "#!/bin/sh\n"
                                               "echo \"$$\" >> \"$HOME/started\"\n"
                                               "exec sleep 1000\n";

// The process ids the stand-in programs of the home have written so far.
inline std::vector<pid_t> startedPids(const std::string& home) {
    std::istringstream lines(readAll(home + "/started"));
    return {std::istream_iterator<pid_t>(lines), std::istream_iterator<pid_t>()};
}

} // namespace sonvela::test
