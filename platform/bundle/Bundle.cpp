#include "platform/bundle/Bundle.h"

#include "platform/fs/FileManager.h"
#include "platform/bundle/UserLanguages.h"
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

std::optional<std::string> stringEntry(const std::string& path, const std::string& key) {
    std::optional<plist::Value> found = plist::readValue(path, key);
    if (!found || !found->is<std::string>()) {
        return std::nullopt;
    }
    return *found->get<std::string>();
}

std::mutex mainMutex;
std::optional<Bundle> overridden;

} // namespace

Bundle::Bundle(std::string bundlePath) : bundlePath_(std::move(bundlePath)) {
    std::string resources = paths::appendPathComponent(bundlePath_, "Resources");
    resourcePath_ = fs::isDirectory(resources) ? resources : bundlePath_;
    localization_ = chooseLocalization();
}

// The first of the user's languages that the bundle has a folder "<language>.lproj" for. The
// language the bundle was written in needs none: it is the base resources, and reaching it first
// means the user prefers it to the languages after it.
std::optional<std::string> Bundle::chooseLocalization() const {
    std::optional<std::string> base;
    for (const std::string& language : userLanguages()) {
        if (fs::isDirectory(paths::appendPathComponent(resourcePath_, language + ".lproj"))) {
            return language;
        }
        if (!base) {
            auto region = infoValue("CFBundleDevelopmentRegion");
            base = region && region->is<std::string>() ? *region->get<std::string>() : "en";
        }
        if (language == *base) {
            return std::nullopt;
        }
    }
    return std::nullopt;
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
    if (isRegularFile(path) || fs::isDirectory(path)) {
        return path;
    }
    if (!localization_) {
        return std::nullopt;
    }
    path = paths::appendPathComponent(localizedFolder(), file);
    if (isRegularFile(path) || fs::isDirectory(path)) {
        return path;
    }
    return std::nullopt;
}

std::string Bundle::localizedFolder() const {
    return paths::appendPathComponent(resourcePath_, *localization_ + ".lproj");
}

std::string Bundle::localizedString(const std::string& key, const std::string& value,
                                    const std::string& table) const {
    std::string file = (table.empty() ? "Localizable" : table) + ".strings";
    if (file.find('/') != std::string::npos) {
        return value.empty() ? key : value;
    }
    // A key that the language's table lacks still gets the base table's text, not the key.
    if (localization_) {
        if (auto entry = stringEntry(paths::appendPathComponent(localizedFolder(), file), key)) {
            return *entry;
        }
    }
    if (auto entry = stringEntry(paths::appendPathComponent(resourcePath_, file), key)) {
        return *entry;
    }
    return value.empty() ? key : value;
}

std::optional<plist::Value> Bundle::infoValue(const std::string& key) const {
    return plist::readValue(paths::appendPathComponent(bundlePath_, "Info.plist"), key);
}

} // namespace platform::bundle
