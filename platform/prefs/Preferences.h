#pragma once

#include "platform/plist/PlistValue.h"

#include <functional>
#include <optional>
#include <string>

// Values stored by key for an application, per user scope, in one XML property list per
// application and scope:
//   current user: $XDG_CONFIG_HOME/<folder>/<application>.plist (~/.config when unset)
//   any user:     /etc/xdg/<folder>/<application>.plist
// where the folder is the product's preferences folder (platform::productNames()).
// A value set in a process is seen by that process at once; synchronize writes it through.
// Everything else is read from the file afresh on every call, so changes made by other
// processes are seen without a restart.
namespace platform::prefs {

// A user or host scope. Scopes are told apart by identity: only the three objects below are
// known, and another object with the same name is refused.
struct PreferencesScope {
    const char* name;
};
using ScopeRef = const PreferencesScope*;

extern const ScopeRef kCFPreferencesCurrentUser;
extern const ScopeRef kCFPreferencesAnyUser;
extern const ScopeRef kCFPreferencesAnyHost;

// The value stored under the key, or nullopt when there is none, the file cannot be read or an
// argument is refused (unknown scope, a host other than any host, an application name that is
// not a plain file name).
std::optional<plist::Value> copyValue(const std::string& key, const std::string& application,
                                      ScopeRef user, ScopeRef host);

// Replaces the whole value for this process; nullopt removes the key. False, and nothing set,
// for a refused argument or a key or value the file format cannot carry.
bool setValue(const std::string& key, const std::optional<plist::Value>& value,
              const std::string& application, ScopeRef user, ScopeRef host);

// Writes the values set in this process into the file, atomically, keeping every other key of
// the file. True when they were saved (or nothing was waiting). On failure they stay set for
// this process and the next synchronize tries again. A file that exists but cannot be read is
// moved aside to a name ending in ".corrupt", with a log line, before the new file is written.
bool synchronize(const std::string& application, ScopeRef user, ScopeRef host);

// Changes one value where it is stored, for changes that depend on what is stored (adding to
// a list): the file is read afresh under the lock its writers take turns with, the edit gets
// the stored value (nullopt when there is none) to change, or to set to nullopt to remove the
// key, and the file is written back, with the other values set in this process, before the
// lock is let go. False, and nothing written, for a refused argument, when the edit returns
// false or when the file could not be written.
bool updateValue(const std::string& key, const std::string& application, ScopeRef user,
                 ScopeRef host, const std::function<bool(std::optional<plist::Value>&)>& edit);

// The folder that holds a scope's configuration: the XDG config home for the current user,
// /etc/xdg for any user. nullopt for an unknown scope or when the user has no config home.
std::optional<std::string> configFolder(ScopeRef user);

// The file that holds an application's values in a scope, or nullopt as above.
std::optional<std::string> preferencesFile(const std::string& application, ScopeRef user);

// Lets tests put the any-user folder somewhere of their own; nullopt goes back to /etc/xdg.
void overrideAnyUserFolderForTesting(std::optional<std::string> folder);

} // namespace platform::prefs
