#pragma once

#include <optional>
#include <string>

// Paths of the volume table: the user's copy and the default that ships in the bundle.
class AppUtil {
public:
    AppUtil() = delete;

    // DefaultConfig.plist among the main bundle's resources, or nullopt when it has none.
    static std::optional<std::string> getDefaultConfigFilePath();
    // The user's config.plist; asking for it creates the Sonvela folder when it is missing.
    // nullopt when the user has no application data folder at all.
    static std::optional<std::string> getUserConfigFilePath();
};
