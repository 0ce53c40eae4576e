#include "shared/VolumeTable.h"

#include "platform/fs/FileManager.h"
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
    auto found = plist::readValue(*path, outputType);
    auto volume = found ? found->floatValue() : std::nullopt;
    // NaN is no volume: it would reach the sound server as garbage.
    if (volume && std::isnan(*volume)) {
        return std::nullopt;
    }
    return volume;
}

std::optional<VolumeTable::Unreadable> VolumeTable::whyUnreadable(const std::string& path) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0) {
        return std::nullopt;
    }
    struct stat file {};
    bool found = stat(path.c_str(), &file) == 0;
    const struct stat& seen = found ? file : link;
    Unreadable unreadable{"", std::to_string(seen.st_dev) + ":" + std::to_string(seen.st_ino) +
                                  ":" + std::to_string(seen.st_size) + ":" +
                                  std::to_string(seen.st_mtim.tv_sec) + "." +
                                  std::to_string(seen.st_mtim.tv_nsec)};
    if (!found) {
        unreadable.reason = std::strerror(errno);
    } else if (!S_ISREG(file.st_mode)) {
        unreadable.reason = "not a regular file";
    } else if (std::uintmax_t(file.st_size) > plist::kMaxFileSize) {
        unreadable.reason = "larger than 4 MiB";
    } else if (access(path.c_str(), R_OK) != 0) {
        unreadable.reason = std::strerror(errno);
    } else if (!plist::readDictionary(path)) {
        unreadable.reason = "not a property list with a dictionary at its root";
    } else {
        return std::nullopt;
    }
    return unreadable;
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
