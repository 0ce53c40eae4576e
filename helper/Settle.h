#pragma once

#include "platform/audio/AudioObject.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

// A Bluetooth headset may push its own volume right after it connects, after the restore: for a
// moment after a restore, the first volume change of the restored output that another program
// made is set back to the restored volume, without a mute. A second change in that moment is
// the user's and stays, and so does every change after it.
class Settle {
public:
    static constexpr std::chrono::milliseconds kWindow{1500};

    // The volume the table holds for an output type now; 0 for none.
    using StoredVolume = std::function<float(const std::string& outputType)>;

    explicit Settle(StoredVolume stored) : stored_(std::move(stored)) {}

    // A restore of this output ended, having applied this volume; the moment starts again for
    // it, whichever output had it before. Nothing to settle for a volume that mutes, nor when
    // the restore kept the output's own volume (none).
    void restored(platform::audio::AudioDeviceID device, const std::string& outputType,
                  std::optional<float> volume);
    // Another program changed the volume of this output, the default one.
    void volumeChanged(platform::audio::AudioDeviceID device);

private:
    using Clock = std::chrono::steady_clock;

    struct Restore {
        platform::audio::AudioDeviceID device;
        std::string outputType;
        float volume;
        Clock::time_point ended;
    };

    // The restore to go back to when this volume of the output is a push to set back; its
    // moment ends then.
    std::optional<Restore> takePush(platform::audio::AudioDeviceID device, float volume,
                                    Clock::time_point now);
    bool isStored(const std::string& outputType, float volume);

    StoredVolume stored_;
    std::mutex mutex_;
    // The last restore while its moment may run; none once a change was set back.
    std::optional<Restore> last_;
};
