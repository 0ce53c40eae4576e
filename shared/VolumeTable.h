#pragma once

#include "platform/audio/OutputKinds.h"

#include <optional>
#include <string>

// The volume table: output types mapped to volume fractions, read whole and written whole.
class VolumeTable {
public:
    VolumeTable() = delete;

    // The ignored output type, the internal speakers: no volume is kept for it.
    static constexpr const char* kIgnoredOutputType = platform::audio::kIgnoredOutputKind.data();

    // Copies the bundle's default table to the user's path when nothing is there yet. An
    // existing file is never replaced, whatever it holds.
    static void ensureUserTable();

    // The volume stored for the output type. nullopt when the table is missing or unreadable,
    // or its entry is missing or not a number (numeric text counts as its number).
    static std::optional<float> storedVolume(const std::optional<std::string>& path,
                                             const std::string& outputType);

    // Why a table that is there cannot be read ("not a regular file", "Permission denied", ...),
    // and what tells this version of the file from the next; nullopt when it can be read or
    // when nothing is there.
    struct Unreadable {
        std::string reason;
        std::string version;
    };
    static std::optional<Unreadable> whyUnreadable(const std::string& path);

    // Sets one entry and writes the whole table back atomically; every other entry stays.
    // False, and nothing written, when the table is missing or unreadable or the new table
    // cannot be written (an output type that the file format cannot hold).
    static bool storeVolume(const std::optional<std::string>& path, const std::string& outputType,
                            float volume);
};
