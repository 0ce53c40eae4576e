#pragma once

#include "platform/audio/AudioObject.h"

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

class Settle;

// Keeps the default output at or below its kind's ceiling when another program turns it up (a
// media key, a game, a browser tab): it listens to the volume of the outputs that restores
// acted on, and lowers the default one to the ceiling, without a mute, when it rose above it.
// The settle hears of each change first.
class CeilingGuard {
public:
    // The ceiling for an output type, or nullopt for none.
    using Ceilings = std::function<std::optional<float>(const std::string& outputType)>;

    CeilingGuard(Ceilings ceilings, Settle& settle)
        : ceilings_(std::move(ceilings)), settle_(settle) {}

    // Listens to this device's volume too. Two restores can end at once (the one at start-up
    // and the first notified one), so the last device watched need not be the default: every
    // event asks which one is.
    void watch(platform::audio::AudioDeviceID device);
    // Lowers the default output to its kind's ceiling when it lies above it, after the settle
    // had its say.
    void check(platform::audio::AudioDeviceID changed);

private:
    static platform::audio::OSStatus
    volumeChanged(platform::audio::AudioObjectID objectID, std::uint32_t numberAddresses,
                  const platform::audio::AudioObjectPropertyAddress* addresses, void* clientData);

    Ceilings ceilings_;
    Settle& settle_;
    std::mutex mutex_;
    // The devices listened to, most recent last; a few are plenty.
    std::deque<platform::audio::AudioDeviceID> watched_;
};
