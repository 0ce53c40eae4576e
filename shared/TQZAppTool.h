#pragma once

#include "platform/plist/PlistValue.h"
#include "platform/window/Window.h"

#include <optional>
#include <string>

// Where the running program's things lie: its bundle and the user's application data folder.
// Nothing is kept between calls; every path is worked out afresh.
class TQZAppTool {
public:
    TQZAppTool() = delete;

    // The main bundle's resources folder, ending in one "/".
    static std::string getResPath();
    // The main bundle's own folder, ending in one "/".
    static std::string getAppPath();
    // The named folder in the user's application data folder. Both are created when missing
    // (the data folder's parent is not), private to the user; folders already there stay as
    // they are. nullopt when the user has no application data folder at all.
    static std::optional<std::string> applicationSupportFolder(const std::string& folderName);
    // The same path, without creating anything.
    static std::optional<std::string> applicationSupportPath(const std::string& folderName);

    static std::optional<platform::plist::Value> getPlistValue(const std::string& key,
                                                               const std::string& fileName);
    static std::optional<platform::plist::Value> getConfig(const std::string& key);
    // nullopt removes the key. Does nothing when the bundle has no readable Config.plist.
    static void setConfig(const std::string& key,
                          const std::optional<platform::plist::Value>& value);
    // Ends the sheet shown on the window with the code 23, then closes it; nothing without one.
    static void closeSheet(platform::window::Window& window);
};
