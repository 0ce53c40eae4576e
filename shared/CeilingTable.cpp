#include "shared/CeilingTable.h"

#include "platform/fs/FileManager.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistFile.h"
#include "shared/TQZAppTool.h"
#include "shared/VolumeTable.h"

namespace plist = platform::plist;

std::optional<std::string> CeilingTable::getUserCeilingsFilePath() {
    // Only looked up: the helper reads this file on every restore and never writes it.
    auto folder = TQZAppTool::applicationSupportPath("Sonvela");
    return folder ? std::optional(*folder + "/ceilings.plist") : std::nullopt;
}

std::optional<float> CeilingTable::ceiling(const std::optional<std::string>& path,
                                           const std::string& outputType) {
    // The same file format as the volume table, entries read the same way.
    auto value = VolumeTable::storedVolume(path, outputType);
    if (!value || *value < 0.0f || *value > 1.0f) {
        return std::nullopt;
    }
    return value;
}

bool CeilingTable::storeCeiling(const std::optional<std::string>& path,
                                const std::string& outputType, std::optional<float> ceiling) {
    if (!path) {
        return false;
    }
    plist::Dictionary table;
    if (platform::fs::exists(*path)) {
        auto read = plist::readDictionary(*path);
        if (!read) {
            return false;
        }
        table = std::move(*read);
    }
    if (ceiling) {
        table[outputType] = plist::Value(*ceiling);
    } else {
        table.erase(outputType);
    }
    // The first ceiling of a fresh account: its folders, private to the user, as for the table.
    std::string folder = platform::fs::parentOf(*path);
    platform::paths::makeUserFolder(platform::fs::parentOf(folder));
    platform::paths::makeUserFolder(folder);
    return plist::writeXmlAtomically(*path, table);
}
