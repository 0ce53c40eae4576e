#pragma once

#include <string>
#include <vector>

namespace platform::paths {

// The current user's folders for application data, most important first: $XDG_CONFIG_HOME when
// it is set and absolute, else $HOME/.config. Empty when neither can be formed.
std::vector<std::string> applicationSupportDirectories();

// Makes one folder with mode 0700, as the XDG base directory rules ask; its parent must exist.
// True when a folder is there afterwards, also one made before or by another process at the
// same moment; a folder already there keeps its mode.
bool makeUserFolder(const std::string& path);

// Joins with exactly one separator between the parts.
std::string appendPathComponent(const std::string& base, const std::string& component);

} // namespace platform::paths
