#include "shared/TQZAppTool.h"

#include "platform/bundle/Bundle.h"
#include "platform/fs/FileManager.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistFile.h"

using platform::bundle::Bundle;
namespace plist = platform::plist;

std::string TQZAppTool::getResPath() {
    return Bundle::main().resourcePath() + "/";
}

std::string TQZAppTool::getAppPath() {
    return Bundle::main().bundlePath() + "/";
}

std::optional<std::string> TQZAppTool::applicationSupportPath(const std::string& folderName) {
    auto folders = platform::paths::applicationSupportDirectories();
    if (folders.empty()) {
        return std::nullopt;
    }
    return platform::paths::appendPathComponent(folders.front(), folderName);
}

std::optional<std::string> TQZAppTool::applicationSupportFolder(const std::string& folderName) {
    auto path = applicationSupportPath(folderName);
    if (path) {
        // A fresh account may not have its config folder yet. Failing here is not an error of
        // its own: whoever uses the path finds nothing there.
        platform::paths::makeUserFolder(platform::fs::parentOf(*path));
        platform::paths::makeUserFolder(*path);
    }
    return path;
}

std::optional<plist::Value> TQZAppTool::getPlistValue(const std::string& key,
                                                      const std::string& fileName) {
    auto path = Bundle::main().pathForResource(fileName, "plist");
    if (!path) {
        return std::nullopt;
    }
    return plist::readValue(*path, key);
}

std::optional<plist::Value> TQZAppTool::getConfig(const std::string& key) {
    return getPlistValue(key, "Config");
}

void TQZAppTool::setConfig(const std::string& key, const std::optional<plist::Value>& value) {
    auto path = Bundle::main().pathForResource("Config", "plist");
    if (!path) {
        return;
    }
    auto table = plist::readDictionary(*path);
    if (!table) {
        return;
    }
    if (value) {
        (*table)[key] = *value;
    } else {
        table->erase(key);
    }
    plist::writeXmlAtomically(*path, *table);
}

void TQZAppTool::closeSheet(platform::window::Window& window) {
    platform::window::Sheet* sheet = window.attachedSheet();
    if (sheet == nullptr) {
        return;
    }
    sheet->end(23);
    sheet->close();
}
