#include "tests/support/TestBundle.h"

#include "platform/plist/PlistFile.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <sstream>

namespace sonvela::test {

std::string makeBundle(const std::string& folder, const std::string& name,
                       const std::string& identifier, const std::string& executable,
                       const std::string& programText) {
    namespace fs = std::filesystem;
    std::string bundle = folder + "/" + name + ".app";
    makeDirs(bundle + "/bin");
    makeDirs(bundle + "/Resources");
    platform::plist::Dictionary info{{"CFBundleExecutable", platform::plist::Value(executable)},
                                     {"CFBundleName", platform::plist::Value(name)}};
    if (!identifier.empty()) {
        info["CFBundleIdentifier"] = platform::plist::Value(identifier);
    }
    platform::plist::writeXmlAtomically(bundle + "/Info.plist", info);
    std::string program = bundle + "/bin/" + executable;
    writeAll(program, programText);
    fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    return bundle;
}

std::vector<pid_t> startedPids(const std::string& home) {
    std::vector<pid_t> pids;
    std::istringstream lines(readAll(home + "/started"));
    for (pid_t pid = 0; lines >> pid;) {
        pids.push_back(pid);
    }
    return pids;
}

} // namespace sonvela::test
