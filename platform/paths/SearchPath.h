#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::paths {

// The current user's folders for application data, most important first: $XDG_CONFIG_HOME when
// it is set and absolute, else $HOME/.config. Empty when neither can be formed.
std::vector<std::string> applicationSupportDirectories();

// $XDG_DATA_HOME when it is set and absolute, else $HOME/.local/share; nullopt when neither
// can be formed.
std::optional<std::string> dataHome();

enum class RuntimeFallback { None, LogindFolder };

// The session's runtime folder: $XDG_RUNTIME_DIR, or with LogindFolder the folder logind makes
// for the user (/run/user/<uid>) when the variable is missing. Only a folder that we own and
// that nobody else may enter (mode 0700) counts, as the XDG base directory rules ask: in a
// shared one another user could take our file names first. A variable naming anything else is
// treated as missing, and logged once. nullopt when there is no such folder.
std::optional<std::string> runtimeDirectory(RuntimeFallback fallback);

// Makes one folder with mode 0700, as the XDG base directory rules ask; its parent must exist.
// True when a folder is there afterwards, also one made before or by another process at the
// same moment; a folder already there keeps its mode.
bool makeUserFolder(const std::string& path);

// Joins with exactly one separator between the parts.
std::string appendPathComponent(const std::string& base, const std::string& component);

} // namespace platform::paths
