#pragma once

#include "platform/audio/Backend.h"

#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::audio {

// An in-memory sound system for tests: devices with a data source, a volume and a mute switch,
// a settable default output device, and any call made to fail on demand.
class SimulatedBackend : public Backend {
public:
    struct Device {
        std::uint32_t dataSource = 0;
        float volume = 0;
        bool muted = false;
    };

    enum class Access { Get, Set };

    // One accepted or refused write, in the order the writes arrived.
    struct Write {
        AudioDeviceID device;
        std::uint32_t selector;
        std::uint32_t value; // the raw 4 bytes: a float's bits for the volume
        OSStatus status;
    };

    AudioDeviceID addDevice(std::uint32_t dataSource, float volume = 0.5f, bool muted = false);
    void removeDevice(AudioDeviceID device);

    // Makes the device the default output and notifies the listeners, as a switch of the
    // output does. kAudioObjectUnknown means there is no default output.
    void setDefaultDevice(AudioDeviceID device);
    AudioDeviceID defaultDevice() const;

    // Changes the kind of output (headphones plugged in) and notifies.
    void setDataSource(AudioDeviceID device, std::uint32_t dataSource);

    // Change the state the way another program would: no notification.
    void setVolume(AudioDeviceID device, float volume);
    void setMuted(AudioDeviceID device, bool muted);

    std::optional<Device> device(AudioDeviceID device) const;

    // Every later call of this property and direction answers with the status (0 clears it).
    void failCalls(std::uint32_t selector, Access access, OSStatus status);

    std::vector<Write> writes() const;
    void clearWrites();

    // Sends a notification without any change, as an unrelated event would.
    void notify();
    void waitUntilIdle() { listeners().waitUntilIdle(); }

    OSStatus getProperty(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                         std::uint32_t& size, void* data) override;
    OSStatus setProperty(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                         std::uint32_t size, const void* data) override;

private:
    OSStatus failure(std::uint32_t selector, Access access) const;
    OSStatus readDevice(AudioObjectID objectID, std::uint32_t selector, std::uint32_t& out) const;
    OSStatus writeDevice(AudioObjectID objectID, std::uint32_t selector, std::uint32_t value);

    mutable std::mutex mutex_;
    std::map<AudioDeviceID, Device> devices_;
    AudioDeviceID defaultDevice_ = kAudioObjectUnknown;
    AudioDeviceID nextId_ = 100;
    std::map<std::pair<std::uint32_t, Access>, OSStatus> failures_;
    std::vector<Write> writes_;
};

} // namespace platform::audio
