#pragma once

#include <optional>
#include <string>

// The ceilings: for each kind of output the highest volume it may have, whoever turns it up.
// A dictionary property list of output types and fractions from 0 to 1, next to the volume
// table, read when needed and written whole; no file or no entry means no ceiling.
class CeilingTable {
public:
    CeilingTable() = delete;

    // The user's ceilings.plist, beside config.plist; nullopt without an application data folder.
    static std::optional<std::string> getUserCeilingsFilePath();

    // The ceiling for the kind; nullopt for no ceiling: no file, one that cannot be read, no
    // entry, or an entry that is not a number from 0 to 1.
    static std::optional<float> ceiling(const std::optional<std::string>& path,
                                        const std::string& outputType);

    // Sets the kind's ceiling, or with nullopt takes it away, and writes the whole file back
    // atomically; a missing file is made. False, and nothing written, when a file that is there
    // cannot be read or the new one cannot be written.
    static bool storeCeiling(const std::optional<std::string>& path, const std::string& outputType,
                             std::optional<float> ceiling);
};
