#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Paths of the volume table, and the questions about other applications: starting them,
// finding and stopping their processes by name, finding them among the login items.
class AppUtil {
public:
    AppUtil() = delete;

    // DefaultConfig.plist among the main bundle's resources, or nullopt when it has none.
    static std::optional<std::string> getDefaultConfigFilePath();
    // The user's config.plist; asking for it creates the config folder and the Sonvela folder
    // in it when they are missing. nullopt when the user has no application data folder.
    static std::optional<std::string> getUserConfigFilePath();

    // Starts the application whose bundle lies at the path, unless it already runs.
    static void launchApplication(const std::string& path);
    // The output of the bundle's getApplicationPid.sh for the name, cut at every "\n" (a final
    // line end gives a last, empty element); empty when it printed nothing or not UTF-8.
    // Only the current user's processes are listed.
    static std::vector<std::string> getApplicationPidsByName(const std::string& name);
    // The first element of that list, or "" when it is empty.
    static std::string getApplicationPidByName(const std::string& name);
    static bool applicationIsRunning(const std::string& name);
    // Sends SIGTERM through /bin/kill to the first process id for the name, and to no other.
    static void killApplicationByName(const std::string& name);
    // The first position of the current user's login items whose path ends in the bundle file
    // name (exact, case-sensitive); -1 for none.
    static std::int32_t getLoginItemIndexByApplicationName(const std::string& name);
    static bool applicationIsLoginItem(const std::string& name);
};
