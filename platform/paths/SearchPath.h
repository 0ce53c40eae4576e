#pragma once

#include <string>
#include <vector>

namespace platform::paths {

// The current user's folders for application data, most important first: $XDG_CONFIG_HOME when
// it is set and absolute, else $HOME/.config. Empty when neither can be formed.
std::vector<std::string> applicationSupportDirectories();

// Joins with exactly one separator between the parts.
std::string appendPathComponent(const std::string& base, const std::string& component);

} // namespace platform::paths
