#pragma once

#include "platform/prefs/Preferences.h"

#include <optional>
#include <string>

// The XDG autostart entry through which a desktop session starts the login window at login.
// It is kept in step with a scope's login item list: there while the list has entries to
// start, gone when it has none, so a user without login items pays nothing at login. The
// current user's entry lies in $XDG_CONFIG_HOME/autostart, the any-user one in
// /etc/xdg/autostart, under the same file name: where both exist the user's shadows the other
// and the login window, which starts both lists, runs once. Where the login window's path
// holds characters that sessions refuse in a program path, the current user's entry names a
// link to it instead, $XDG_DATA_HOME/<data folder>/<login window program> (~/.local/share when
// unset), which is there only while that entry needs it. The names are the running program's
// (platform::productNames()); without them there is no entry.
namespace platform::loginwindow {

// The entry's path for a scope, or nullopt when the scope has no config folder.
std::optional<std::string> autostartEntryPath(prefs::ScopeRef user);

// The login window that ships with the running program: bin/<login window program> in its
// bundle.
std::string loginWindowExecutable();

// The entry's text for a login window at that path; nullopt for a path that a desktop entry
// cannot carry (not UTF-8, control characters).
std::optional<std::string> autostartEntryText(const std::string& executable);

// Writes or removes the scope's entry (and the link) to match its list, making the autostart
// folder when it is missing. False, with a log line, when the entry could not be brought in
// step; a log line also when it names a path that sessions may refuse.
bool keepAutostartEntryInStep(prefs::ScopeRef user);

} // namespace platform::loginwindow
