#include "platform/bundle/Bundle.h"

#include "platform/fs/FileManager.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistFile.h"

#include <climits>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace platform::bundle {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string lastComponent(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "X.app/bin/prog" belongs to the bundle X.app; any other program stands for its own folder.
std::string bundleOfExecutable(const std::string& executable) {
    std::string folder = fs::parentOf(executable);
    std::string above = fs::parentOf(folder);
    if (lastComponent(folder) == "bin" && endsWith(above, ".app")) {
        return above;
    }
    return folder;
}

std::string executablePath() {
    char resolved[PATH_MAX];
    if (::realpath("/proc/self/exe", resolved) == nullptr) {
        return "/";
    }
    return resolved;
}

std::mutex mainMutex;
std::optional<Bundle> overridden;

} // namespace

Bundle::Bundle(std::string bundlePath) : bundlePath_(std::move(bundlePath)) {
    std::string resources = paths::appendPathComponent(bundlePath_, "Resources");
    resourcePath_ = fs::isDirectory(resources) ? resources : bundlePath_;
}

const Bundle& Bundle::main() {
    static const Bundle real(bundleOfExecutable(executablePath()));
    std::lock_guard lock(mainMutex);
    return overridden ? *overridden : real;
}

void Bundle::overrideMainForTesting(std::optional<std::string> bundlePath) {
    std::lock_guard lock(mainMutex);
    if (bundlePath) {
        overridden.emplace(*bundlePath);
    } else {
        overridden.reset();
    }
}

std::optional<std::string> Bundle::pathForResource(const std::string& name,
                                                   const std::string& type) const {
    if (name.empty() || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::string file = type.empty() ? name : name + "." + type;
    std::string path = paths::appendPathComponent(resourcePath_, file);
    if (!isRegularFile(path) && !fs::isDirectory(path)) {
        return std::nullopt;
    }
    return path;
}

std::string Bundle::localizedString(const std::string& key, const std::string& value,
                                    const std::string& table) const {
    std::string fallback = value.empty() ? key : value;
    auto path = pathForResource(table.empty() ? "Localizable" : table, "strings");
    if (!path) {
        return fallback;
    }
    std::optional<plist::Value> found = plist::readValue(*path, key);
    if (!found || !found->is<std::string>()) {
        return fallback;
    }
    return *found->get<std::string>();
}

std::optional<plist::Value> Bundle::infoValue(const std::string& key) const {
    return plist::readValue(paths::appendPathComponent(bundlePath_, "Info.plist"), key);
}

} // namespace platform::bundle
