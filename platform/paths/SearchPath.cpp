#include "platform/paths/SearchPath.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace platform::paths {

namespace {

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::vector<std::string> applicationSupportDirectories() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (isAbsolute(configHome)) {
        return {withoutTrailingSlashes(configHome)};
    }
    const char* home = std::getenv("HOME");
    if (isAbsolute(home)) {
        return {appendPathComponent(withoutTrailingSlashes(home), ".config")};
    }
    return {};
}

bool makeUserFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && isFolder(path));
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
