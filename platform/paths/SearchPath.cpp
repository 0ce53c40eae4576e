#include "platform/paths/SearchPath.h"

#include "platform/fs/FileManager.h"
#include "platform/log/Log.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::paths {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::optional<std::string> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return withoutTrailingSlashes(value);
}

// An XDG base folder: the variable when it is absolute, else the fallback under $HOME.
std::optional<std::string> baseFolder(const char* variable, const char* underHome) {
    if (std::optional<std::string> value = absoluteVariable(variable)) {
        return value;
    }
    if (std::optional<std::string> home = absoluteVariable("HOME")) {
        return appendPathComponent(*home, underHome);
    }
    return std::nullopt;
}

bool isPrivateFolderOfOurs(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 07777) == 0700;
}

} // namespace

std::vector<std::string> applicationSupportDirectories() {
    std::optional<std::string> folder = baseFolder("XDG_CONFIG_HOME", ".config");
    return folder ? std::vector{*folder} : std::vector<std::string>{};
}

std::optional<std::string> dataHome() {
    return baseFolder("XDG_DATA_HOME", ".local/share");
}

std::optional<std::string> runtimeDirectory(RuntimeFallback fallback) {
    std::optional<std::string> variable = absoluteVariable("XDG_RUNTIME_DIR");
    if (variable && isPrivateFolderOfOurs(*variable)) {
        return variable;
    }
    static std::atomic<bool> told = false;
    if (variable && !told.exchange(true)) {
        log::nslog("XDG_RUNTIME_DIR %s is not a folder of ours with mode 0700; not using it",
                   log::printable(*variable).c_str());
    }
    std::string logind = "/run/user/" + std::to_string(::getuid());
    if (fallback == RuntimeFallback::LogindFolder && isPrivateFolderOfOurs(logind)) {
        return logind;
    }
    return std::nullopt;
}

bool makeUserFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && fs::isDirectory(path));
}

std::string appendPathComponent(const std::string& base, const std::string& component) {
    if (base.empty()) {
        return component;
    }
    std::string joined = withoutTrailingSlashes(base);
    std::size_t start = component.find_first_not_of('/');
    if (joined != "/") {
        joined += '/';
    }
    if (start != std::string::npos) {
        joined += component.substr(start);
    }
    return joined;
}

} // namespace platform::paths
