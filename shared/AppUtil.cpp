#include "shared/AppUtil.h"

#include "platform/bundle/Bundle.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/ProcessExit.h"
#include "platform/process/ProgramRunner.h"
#include "platform/text/Utf8.h"
#include "shared/LoginItemAPI.h"
#include "shared/TQZAppTool.h"

namespace {

std::vector<std::string> cutAtLineEnds(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', start)) {
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// Only a plain process id goes to /bin/kill: "0" would stop our own process group, and "-1"
// or any other leading "-" would be read as an option or stop every process we may signal.
bool isProcessId(const std::string& text) {
    return !text.empty() && text.size() <= 10 && text.front() != '0' &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::optional<std::string> AppUtil::getDefaultConfigFilePath() {
    return platform::bundle::Bundle::main().pathForResource("DefaultConfig", "plist");
}

std::optional<std::string> AppUtil::getUserConfigFilePath() {
    auto folder = TQZAppTool::applicationSupportFolder("Sonvela");
    if (!folder) {
        // Without a folder there is no table; never a path relative to wherever we run.
        return std::nullopt;
    }
    return *folder + "/config.plist";
}

void AppUtil::launchApplication(const std::string& path) {
    platform::process::launchApplication(path);
}

std::vector<std::string> AppUtil::getApplicationPidsByName(const std::string& name) {
    std::string script = TQZAppTool::getResPath() + "getApplicationPid.sh";
    std::optional<std::string> output = platform::process::runProgram("/bin/sh", {script, name});
    if (!output || output->empty() || !platform::text::isUtf8(*output)) {
        return {};
    }
    return cutAtLineEnds(*output);
}

std::string AppUtil::getApplicationPidByName(const std::string& name) {
    std::vector<std::string> pids = getApplicationPidsByName(name);
    return pids.empty() ? std::string() : pids.front();
}

bool AppUtil::applicationIsRunning(const std::string& name) {
    return !getApplicationPidsByName(name).empty();
}

void AppUtil::killApplicationByName(const std::string& name) {
    std::string pid = getApplicationPidByName(name);
    if (!isProcessId(pid)) {
        return;
    }
    platform::process::runProgram("/bin/kill", {pid});
    // Off means off: a start right after this must not find the old copy still holding its
    // instance lock while its last threads wind down.
    platform::process::waitUntilEnded(pid_t(std::stoll(pid)), std::chrono::seconds(2));
}

std::int32_t AppUtil::getLoginItemIndexByApplicationName(const std::string& name) {
    auto user = platform::prefs::kCFPreferencesCurrentUser;
    std::int32_t count = GetCountOfLoginItems(user);
    for (std::int32_t index = 0; index < count; ++index) {
        // Copied at once: the next call overwrites the buffer. An entry without a name matches
        // nothing.
        const char* text = ReturnLoginItemPropertyAtIndex(user, kLoginItemExecutableName, index);
        if (text != nullptr && name == text) {
            return index;
        }
    }
    return -1;
}

bool AppUtil::applicationIsLoginItem(const std::string& name) {
    return getLoginItemIndexByApplicationName(name) >= 0;
}
