#pragma once

#include "helper/CeilingGuard.h"
#include "helper/Settle.h"
#include "platform/audio/AudioObject.h"
#include "platform/notify/DesktopNotifier.h"

#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>

// The helper's whole job: on start-up and after every audio notification, mute the output, then
// give it the volume stored for its kind (or, for the internal speakers, the one it had), at
// most its kind's ceiling; set back a device's own push that follows; and keep it under the
// ceiling when another program turns it up.
class Sonvela_HelperAppDelegate {
public:
    ~Sonvela_HelperAppDelegate();

    static bool isIgnored(const std::optional<std::string>& outputType);

    void applicationDidFinishLaunching();
    void checkConfigFile();
    void checkAudioDeviceDataSource();
    void registerListenerForAudioDevice();
    void unregisterListenerForAudioDevice();

    // Waits for the restore in flight, if any, and lets no new one begin: a process that ends
    // between a restore's mute and its volume write leaves the output muted for good. Returns
    // within about 1.5 s whatever the sound server does: a restore that waits for a server that
    // does not answer is then cut short.
    void finishRestores();

private:
    float storedVolume(const std::string& outputType);
    std::optional<float> ceilingFor(const std::string& outputType);
    // Logs why a file that is there cannot be read, once for each version of it.
    void reportUnreadableTable(const std::string& path);

    // A helper's alert has no window to show in: it becomes a desktop notification.
    platform::notify::DesktopNotifier notifier_{"Sonvela Helper"};
    std::shared_timed_mutex restoring_;
    std::mutex reportMutex_;
    std::map<std::string, std::string> reported_;
    Settle settle_{[this](const std::string& type) { return storedVolume(type); }};
    CeilingGuard ceilings_{[this](const std::string& type) { return ceilingFor(type); }, settle_};
};

platform::audio::OSStatus audioObjectPropertyListenerProc(
    platform::audio::AudioObjectID objectID, std::uint32_t numberAddresses,
    const platform::audio::AudioObjectPropertyAddress* addresses, void* clientData);
