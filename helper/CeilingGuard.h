#pragma once

#include "platform/audio/AudioObject.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>

// Keeps the default output at or below its kind's ceiling when another program turns it up (a
// media key, a game, a browser tab): it listens to the volume of the output that the last
// restore acted on, and lowers it to the ceiling, without a mute, when it rose above it.
class CeilingGuard {
public:
    // The ceiling for an output type, or nullopt for none.
    using Ceilings = std::function<std::optional<float>(const std::string& outputType)>;

    explicit CeilingGuard(Ceilings ceilings) : ceilings_(std::move(ceilings)) {}

    // Listens to the default output's volume from now on, and to no other device's. The
    // device is looked up under the guard's lock: of two restores that end at once, the later
    // one also saw the later default.
    void watchDefaultOutput();
    // Lowers the default output to its kind's ceiling when it lies above it.
    void check();

private:
    static platform::audio::OSStatus
    volumeChanged(platform::audio::AudioObjectID objectID, std::uint32_t numberAddresses,
                  const platform::audio::AudioObjectPropertyAddress* addresses, void* clientData);

    Ceilings ceilings_;
    std::mutex mutex_;
    platform::audio::AudioDeviceID watched_ = platform::audio::kAudioObjectUnknown;
};
