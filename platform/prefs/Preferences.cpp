#include "platform/prefs/Preferences.h"

#include "platform/names/ProductNames.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistFile.h"
#include "platform/prefs/PreferencesFile.h"

#include <mutex>

namespace platform::prefs {

namespace {

const PreferencesScope currentUser{"kCFPreferencesCurrentUser"};
const PreferencesScope anyUser{"kCFPreferencesAnyUser"};
const PreferencesScope anyHost{"kCFPreferencesAnyHost"};

const char* const kSystemConfigFolder = "/etc/xdg";
constexpr std::size_t kMaxApplicationLength = 200;

std::mutex mutex;
std::optional<std::string> anyUserFolderOverride;
// Values set but not yet written, by the file they belong to.
std::map<std::string, PendingChanges> pending;

bool isKnownUser(ScopeRef user) {
    return user == &currentUser || user == &anyUser;
}

// The application names a file of its own: no folders, nothing hidden, nothing a file name
// cannot hold.
bool isPlainFileName(const std::string& application) {
    return !application.empty() && application.size() <= kMaxApplicationLength &&
           application.front() != '.' && application.find('/') == std::string::npos &&
           application.find('\0') == std::string::npos;
}

std::optional<PreferencesFile> fileFor(const std::string& application, ScopeRef user,
                                       ScopeRef host) {
    if (host != &anyHost || !isPlainFileName(application)) {
        return std::nullopt;
    }
    std::optional<std::string> path = preferencesFile(application, user);
    if (!path) {
        return std::nullopt;
    }
    // Only the user reads their own list; the system-wide one is for everybody to read.
    return PreferencesFile(*path, user == &currentUser ? 0700 : 0755);
}

void applyChanges(const PendingChanges& changes, plist::Dictionary& values) {
    for (const auto& [key, value] : changes) {
        if (value) {
            values[key] = *value;
        } else {
            values.erase(key);
        }
    }
}

std::optional<std::string> anyUserFolder() {
    std::lock_guard lock(mutex);
    return anyUserFolderOverride ? *anyUserFolderOverride : kSystemConfigFolder;
}

} // namespace

const ScopeRef kCFPreferencesCurrentUser = &currentUser;
const ScopeRef kCFPreferencesAnyUser = &anyUser;
const ScopeRef kCFPreferencesAnyHost = &anyHost;

std::optional<std::string> configFolder(ScopeRef user) {
    if (user == &anyUser) {
        return anyUserFolder();
    }
    if (user != &currentUser) {
        return std::nullopt;
    }
    std::vector<std::string> folders = paths::applicationSupportDirectories();
    if (folders.empty()) {
        return std::nullopt;
    }
    return folders.front();
}

std::optional<std::string> preferencesFile(const std::string& application, ScopeRef user) {
    std::optional<std::string> folder = isKnownUser(user) ? configFolder(user) : std::nullopt;
    const std::string& preferences = productNames().preferencesFolder;
    if (!folder || preferences.empty() || !isPlainFileName(application)) {
        return std::nullopt;
    }
    return paths::appendPathComponent(paths::appendPathComponent(*folder, preferences),
                                      application + ".plist");
}

std::optional<plist::Value> copyValue(const std::string& key, const std::string& application,
                                      ScopeRef user, ScopeRef host) {
    std::optional<PreferencesFile> file = fileFor(application, user, host);
    if (!file) {
        return std::nullopt;
    }
    {
        std::lock_guard lock(mutex);
        auto changes = pending.find(file->path());
        if (changes != pending.end()) {
            auto change = changes->second.find(key);
            if (change != changes->second.end()) {
                return change->second;
            }
        }
    }
    return plist::valueForKey(file->read(), key);
}

bool setValue(const std::string& key, const std::optional<plist::Value>& value,
              const std::string& application, ScopeRef user, ScopeRef host) {
    std::optional<PreferencesFile> file = fileFor(application, user, host);
    // A value that can never be written would make every later synchronize fail.
    if (!file || (value && !plist::toXml(plist::Dictionary{{key, *value}}))) {
        return false;
    }
    std::lock_guard lock(mutex);
    pending[file->path()][key] = value;
    return true;
}

bool synchronize(const std::string& application, ScopeRef user, ScopeRef host) {
    std::optional<PreferencesFile> file = fileFor(application, user, host);
    if (!file) {
        return false;
    }
    std::lock_guard lock(mutex);
    auto changes = pending.find(file->path());
    if (changes == pending.end()) {
        return true;
    }
    if (!file->update([&](plist::Dictionary& values) {
            applyChanges(changes->second, values);
            return true;
        })) {
        return false;
    }
    pending.erase(changes);
    return true;
}

bool updateValue(const std::string& key, const std::string& application, ScopeRef user,
                 ScopeRef host, const std::function<bool(std::optional<plist::Value>&)>& edit) {
    std::optional<PreferencesFile> file = fileFor(application, user, host);
    if (!file) {
        return false;
    }
    std::lock_guard lock(mutex);
    auto changes = pending.find(file->path());
    bool saved = file->update([&](plist::Dictionary& values) {
        if (changes != pending.end()) {
            applyChanges(changes->second, values);
        }
        auto found = values.find(key);
        std::optional<plist::Value> value;
        if (found != values.end()) {
            value = std::move(found->second);
        }
        if (!edit(value)) {
            return false;
        }
        if (value) {
            values[key] = std::move(*value);
        } else {
            values.erase(key);
        }
        return true;
    });
    if (saved && changes != pending.end()) {
        pending.erase(changes);
    }
    return saved;
}

void overrideAnyUserFolderForTesting(std::optional<std::string> folder) {
    std::lock_guard lock(mutex);
    anyUserFolderOverride = std::move(folder);
}

} // namespace platform::prefs
