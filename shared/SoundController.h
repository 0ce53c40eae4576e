#pragma once

#include <cstdint>
#include <string>

// The one access to the audio hardware. Every device operation asks again which device is the
// default output, so each call acts on the output that is current at that moment.
class SoundController {
public:
    // Below this a volume mutes instead; compared in double precision, so the float nearest
    // 0.001 (just above it) is still a volume.
    static constexpr double kMuteThreshold = 0.001;
    static constexpr float kVolumeStep = 0.0625f;

    // The shared instance, made on first use and never freed.
    static SoundController* sharedSoundController();
    static SoundController* getInstance();

    void setDefaultAudioDevice();
    std::uint32_t getOutputDeviceID();
    // The four-character code of the output's kind; 0 when it cannot be read.
    std::uint32_t getAudioDeviceDataSource();
    // The output type: the code as four characters, most significant byte first ("ispk").
    std::string getAudioDeviceDataSourceName();
    // The description of the effects sink the sound passes through on its way to the output;
    // empty when the sound goes to the output directly or it cannot be read.
    std::string getSinkInFrontDescription();
    // The volume fraction; 0.0 when it cannot be read or lies outside 0.0 to 1.0.
    float getHardwareVolume();
    // Mutes below the threshold; otherwise sets the volume (at most 1.0) and clears the mute.
    void setHardwareVolume(float volume);
    // Lowers the volume to the ceiling when it lies above it, a boost past 1.0 included, and
    // leaves the mute switch as it is; a ceiling below the mute threshold mutes instead. Never
    // raises the volume.
    void limitHardwareVolume(float ceiling);
    void muteHardwareVolume();
    void unmuteHardwareVolume();
    void toggleMute();
    void increaseVolume();
    void decreaseVolume();

private:
    SoundController() = default;
    std::uint32_t lookUpDevice();
};
