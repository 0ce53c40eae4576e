#pragma once

#include "platform/plist/PlistValue.h"

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::prefs {

// Changes waiting to be written: a value per key, nullopt for a key to remove.
using PendingChanges = std::map<std::string, std::optional<plist::Value>>;

// One application's property list in one scope: a dictionary of values by key.
class PreferencesFile {
public:
    // folderMode is given to the folders that have to be made on the way to the file.
    PreferencesFile(std::string path, mode_t folderMode);

    const std::string& path() const { return path_; }

    // The stored values: empty when there is no file; nullopt when something is there that
    // cannot be read as a dictionary property list.
    std::optional<plist::Dictionary> read() const;

    // Reads the file afresh, applies the changes and writes the whole dictionary back
    // atomically, all under a lock on the folder so that writers in other processes take
    // turns. A file that cannot be read is moved aside first; when that fails nothing is
    // written.
    bool apply(const PendingChanges& changes) const;

private:
    bool makeFolders() const;
    bool moveAside() const;

    std::string path_;
    std::string folder_;
    mode_t folderMode_;
};

} // namespace platform::prefs
