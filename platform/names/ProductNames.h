#pragma once

#include <string>

namespace platform {

// The names by which the programs on top are known outside their own files. The platform layer
// names no product of its own: each program hands these over at its start, before it uses the
// layer. Until then every name is empty, and what would need one is not made or not found.
struct ProductNames {
    // The sound server's name for our connection.
    std::string audioClient;
    // The folder of preferences files under $XDG_CONFIG_HOME and /etc/xdg.
    std::string preferencesFolder;
    // The folder of our own under $XDG_DATA_HOME.
    std::string dataFolder;
    // The login window's program, also the name of its autostart entry.
    std::string loginWindowProgram;
    // What the autostart entry calls itself.
    std::string loginWindowTitle;
    // Set to 1 for an application that is launched hidden.
    std::string launchedHiddenVariable;
};

void setProductNames(ProductNames names);
const ProductNames& productNames();

} // namespace platform
