#include "shared/SoundController.h"

#include "platform/alert/Alert.h"
#include "platform/audio/AudioObject.h"

#include <atomic>
#include <bit>
#include <mutex>

using namespace platform::audio;

namespace {

// Process-wide, like the device they describe: every instance sees the same values.
std::atomic<AudioDeviceID> outputDeviceID{kAudioObjectUnknown};
std::atomic<bool> muted{false};
std::atomic<SoundController*> SoundControllerSingleton{nullptr};
std::recursive_mutex singletonLock;

constexpr AudioObjectPropertyAddress kDefaultOutputDevice{kAudioHardwarePropertyDefaultOutputDevice,
                                                          kAudioObjectPropertyScopeGlobal,
                                                          kAudioObjectPropertyElementMaster};
constexpr AudioObjectPropertyAddress kDefaultSink{kAudioHardwarePropertyDefaultSink,
                                                  kAudioObjectPropertyScopeGlobal,
                                                  kAudioObjectPropertyElementMaster};
constexpr AudioObjectPropertyAddress kDataSource{kAudioDevicePropertyDataSource,
                                                 kAudioDevicePropertyScopeOutput,
                                                 kAudioObjectPropertyElementMaster};
constexpr AudioObjectPropertyAddress kVolume{
    kAudioHardwareServiceDeviceProperty_VirtualMasterVolume, kAudioDevicePropertyScopeOutput,
    kAudioObjectPropertyElementMaster};
constexpr AudioObjectPropertyAddress kLevel{kAudioDevicePropertyVolumeLevel,
                                            kAudioDevicePropertyScopeOutput,
                                            kAudioObjectPropertyElementMaster};
constexpr AudioObjectPropertyAddress kMute{
    kAudioDevicePropertyMute, kAudioDevicePropertyScopeOutput, kAudioObjectPropertyElementMaster};

OSStatus read32(AudioObjectID object, const AudioObjectPropertyAddress& address,
                std::uint32_t& value) {
    std::uint32_t size = sizeof value;
    return getPropertyData(object, &address, 0, nullptr, &size, &value);
}

OSStatus write32(AudioObjectID object, const AudioObjectPropertyAddress& address,
                 std::uint32_t value) {
    return setPropertyData(object, &address, 0, nullptr, sizeof value, &value);
}

} // namespace

SoundController* SoundController::sharedSoundController() {
    std::lock_guard lock(singletonLock);
    if (SoundControllerSingleton.load() == nullptr) {
        SoundControllerSingleton.store(new SoundController());
    }
    return SoundControllerSingleton.load();
}

SoundController* SoundController::getInstance() {
    return sharedSoundController();
}

void SoundController::setDefaultAudioDevice() {
    std::uint32_t device = 0;
    // After a failed read the last device read stays in use.
    if (read32(kAudioObjectSystemObject, kDefaultOutputDevice, device) == kAudioHardwareNoError) {
        outputDeviceID.store(device);
    }
}

std::uint32_t SoundController::lookUpDevice() {
    setDefaultAudioDevice();
    return outputDeviceID.load();
}

std::uint32_t SoundController::getOutputDeviceID() {
    return lookUpDevice();
}

std::uint32_t SoundController::getAudioDeviceDataSource() {
    std::uint32_t code = 0;
    if (read32(lookUpDevice(), kDataSource, code) != kAudioHardwareNoError) {
        return 0;
    }
    return code;
}

std::string SoundController::getAudioDeviceDataSourceName() {
    std::uint32_t code = getAudioDeviceDataSource();
    return platform::audio::fourCharText(code);
}

std::string SoundController::getSinkInFrontDescription() {
    std::uint32_t front = 0;
    std::string description;
    if (read32(kAudioObjectSystemObject, kDefaultSink, front) != kAudioHardwareNoError ||
        front == lookUpDevice() ||
        getDeviceDescription(front, description) != kAudioHardwareNoError) {
        return "";
    }
    return description;
}

float SoundController::getHardwareVolume() {
    std::uint32_t bits = 0;
    if (read32(lookUpDevice(), kVolume, bits) != kAudioHardwareNoError) {
        return 0.0f;
    }
    float volume = std::bit_cast<float>(bits);
    // A NaN fails both comparisons and is handed on as read.
    if (volume < 0.0f || volume > 1.0f) {
        return 0.0f;
    }
    return volume;
}

void SoundController::setHardwareVolume(float volume) {
    AudioDeviceID device = lookUpDevice();
    if (double(volume) < kMuteThreshold) {
        if (write32(device, kMute, 1) != kAudioHardwareNoError) {
            platform::alert::runModal("Unable to mute device.");
        }
        return;
    }
    if (volume > 1.0f) {
        volume = 1.0f;
    }
    // The mute is lifted only once the volume is set; a restore does not wait between the two.
    setVolumeUnmuted(device, volume);
}

void SoundController::limitHardwareVolume(float ceiling) {
    AudioDeviceID device = lookUpDevice();
    std::uint32_t bits = 0;
    // The level, boosts included: the volume reads a boost as 1.0, never above a ceiling of 1.0.
    if (read32(device, kLevel, bits) != kAudioHardwareNoError ||
        !(std::bit_cast<float>(bits) > ceiling)) {
        return;
    }
    if (double(ceiling) < kMuteThreshold) {
        write32(device, kMute, 1);
    } else {
        // A volume write of 1.0 would keep the boost.
        write32(device, kLevel, std::bit_cast<std::uint32_t>(ceiling));
    }
}

void SoundController::muteHardwareVolume() {
    write32(lookUpDevice(), kMute, 1);
}

void SoundController::unmuteHardwareVolume() {
    write32(lookUpDevice(), kMute, 0);
}

void SoundController::toggleMute() {
    // Remembers only what it did last; the device's own switch is never asked.
    if (muted.load()) {
        unmuteHardwareVolume();
        muted.store(false);
    } else {
        muteHardwareVolume();
        muted.store(true);
    }
}

void SoundController::increaseVolume() {
    setHardwareVolume(getHardwareVolume() + kVolumeStep);
}

void SoundController::decreaseVolume() {
    setHardwareVolume(getHardwareVolume() - kVolumeStep);
}
