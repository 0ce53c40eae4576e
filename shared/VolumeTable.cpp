#include "shared/VolumeTable.h"

#include "platform/fs/FileManager.h"
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"

#include <cmath>

namespace plist = platform::plist;

void VolumeTable::ensureUserTable() {
    auto path = AppUtil::getUserConfigFilePath();
    if (!path || platform::fs::exists(*path)) {
        return;
    }
    auto defaults = AppUtil::getDefaultConfigFilePath();
    if (!defaults) {
        return;
    }
    // Loses cleanly to a copy made at the same moment by the other program.
    platform::fs::copyItem(*defaults, *path);
}

std::optional<float> VolumeTable::storedVolume(const std::optional<std::string>& path,
                                               const std::string& outputType) {
    if (!path) {
        return std::nullopt;
    }
    auto table = plist::readDictionary(*path);
    if (!table) {
        return std::nullopt;
    }
    auto found = table->find(outputType);
    if (found == table->end()) {
        return std::nullopt;
    }
    auto volume = found->second.floatValue();
    // NaN is no volume: it would reach the sound server as garbage.
    if (volume && std::isnan(*volume)) {
        return std::nullopt;
    }
    return volume;
}

bool VolumeTable::storeVolume(const std::optional<std::string>& path, const std::string& outputType,
                              float volume) {
    if (!path) {
        return false;
    }
    auto table = plist::readDictionary(*path);
    if (!table) {
        return false;
    }
    (*table)[outputType] = plist::Value(volume);
    return plist::writeXmlAtomically(*path, *table);
}
