#include "platform/process/ApplicationLauncher.h"

#include "platform/bundle/Bundle.h"
#include "platform/log/Log.h"
#include "platform/names/ProductNames.h"
#include "platform/paths/SearchPath.h"
#include "platform/process/InstanceLock.h"
#include "platform/process/SpawnOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform::process {

namespace {

std::optional<std::string> infoString(const bundle::Bundle& bundle, const char* key) {
    std::optional<plist::Value> value = bundle.infoValue(key);
    if (!value || !value->is<std::string>()) {
        return std::nullopt;
    }
    return *value->get<std::string>();
}

// The program named by Info.plist, as an absolute path with links resolved: the child starts
// in "/", and a relative path would no longer lead there.
std::optional<std::string> executableOf(const bundle::Bundle& bundle) {
    std::optional<std::string> name = infoString(bundle, "CFBundleExecutable");
    if (!name || name->empty() || *name == "." || *name == ".." ||
        name->find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::string path =
        paths::appendPathComponent(paths::appendPathComponent(bundle.bundlePath(), "bin"), *name);
    char resolved[PATH_MAX];
    struct stat st {};
    if (::realpath(path.c_str(), resolved) == nullptr || ::stat(resolved, &st) != 0 ||
        !S_ISREG(st.st_mode) || ::access(resolved, X_OK) != 0) {
        return std::nullopt;
    }
    return std::string(resolved);
}

// Our own environment, with the hidden request set only when asked for.
std::vector<std::string> environmentFor(bool hidden) {
    std::vector<std::string> variables;
    const std::string& name = productNames().launchedHiddenVariable;
    std::string prefix = name + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with(prefix)) {
            variables.emplace_back(*entry);
        }
    }
    if (hidden && !name.empty()) {
        variables.push_back(prefix + "1");
    }
    return variables;
}

// The application is our child until it ends; someone has to collect its exit status, or it
// would stay behind as a zombie that still looks like a running program.
void reapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error& error) {
        log::nslog("cannot wait for process %d: %s", int(pid), error.what());
    }
}

} // namespace

LaunchResult launchApplication(const std::string& bundlePath, bool hidden) {
    bundle::Bundle bundle(bundlePath);
    std::optional<std::string> executable = executableOf(bundle);
    if (!executable) {
        log::nslog("cannot launch %s: its Info.plist names no program in bin/", bundlePath.c_str());
        return LaunchResult::Failed;
    }
    std::optional<InstanceLock> lock;
    if (std::optional<std::string> identifier = infoString(bundle, "CFBundleIdentifier")) {
        lock.emplace(*identifier);
        if (lock->state() == InstanceLock::State::HeldElsewhere) {
            return LaunchResult::AlreadyRunning;
        }
    }

    SpawnOptions options;
    options.startNewSession();
    options.changeDirectory("/");
    options.openFile(STDIN_FILENO, "/dev/null", O_RDONLY);
    if (lock && lock->state() == InstanceLock::State::Taken) {
        options.keepOpen(lock->fd());
    }
    std::vector<std::string> variables = environmentFor(hidden);
    std::vector<char*> environment;
    for (std::string& variable : variables) {
        environment.push_back(variable.data());
    }
    environment.push_back(nullptr);

    pid_t pid = options.spawn(*executable, {}, environment.data());
    if (pid < 0) {
        log::nslog("cannot launch %s: %s", executable->c_str(), std::strerror(errno));
        return LaunchResult::Failed;
    }
    reapInBackground(pid);
    return LaunchResult::Launched;
}

bool launchedHidden() {
    const std::string& name = productNames().launchedHiddenVariable;
    if (name.empty()) {
        return false;
    }
    const char* value = std::getenv(name.c_str());
    bool hidden = value != nullptr && std::strcmp(value, "1") == 0;
    ::unsetenv(name.c_str());
    return hidden;
}

} // namespace platform::process
