#pragma once

#include "platform/fs/FileDescriptor.h"
#include "platform/plist/PlistValue.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::prefs {

// Changes waiting to be written: a value per key, nullopt for a key to remove.
using PendingChanges = std::map<std::string, std::optional<plist::Value>>;

// Changes the stored values in place; false leaves the file as it is.
using Edit = std::function<bool(plist::Dictionary& values)>;

// One application's property list in one scope: a dictionary of values by key.
class PreferencesFile {
public:
    // folderMode is given to the folders that have to be made on the way to the file.
    PreferencesFile(std::string path, mode_t folderMode);

    const std::string& path() const { return path_; }

    // The stored values: empty when there is no file; nullopt when something is there that
    // cannot be read as a dictionary property list.
    std::optional<plist::Dictionary> read() const;

    // Reads the file afresh, lets the edit change the values and writes them back atomically,
    // all under a lock on the folder, so that writers in other processes take turns and none
    // loses another's change. A file that cannot be read is moved aside (the edit then starts
    // from no values); when that fails nothing is written. False when the edit refuses or
    // nothing could be written.
    bool update(const Edit& edit) const;

private:
    struct Snapshot;
    enum class Step { Done, Again, Failed };

    Snapshot snapshot() const;
    Step updateOnce(const Edit& edit, std::optional<fs::FileIdentity>& putAside) const;
    Step moveAside(Snapshot& unreadable) const;
    Step putAside(Snapshot& unreadable, const std::string& aside) const;

    std::string path_;
    std::string folder_;
    mode_t folderMode_;
};

} // namespace platform::prefs
