#include "helper/Settle.h"

#include "platform/log/Log.h"
#include "shared/SoundController.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

using namespace platform::audio;

namespace {

constexpr AudioObjectPropertyAddress kVolume{
    kAudioHardwareServiceDeviceProperty_VirtualMasterVolume, kAudioDevicePropertyScopeOutput,
    kAudioObjectPropertyElementMaster};

// Closer to the restored volume than half of Bluetooth's coarsest volume step (1/15) is the
// server rounding our own write, or its late echo, not a push.
constexpr float kSameVolume = 1.0f / 30;

std::optional<float> volumeOf(AudioDeviceID device) {
    std::uint32_t bits = 0;
    std::uint32_t size = sizeof bits;
    if (getPropertyData(device, &kVolume, 0, nullptr, &size, &bits) != kAudioHardwareNoError) {
        return std::nullopt;
    }
    return std::bit_cast<float>(bits);
}

} // namespace

void Settle::restored(AudioDeviceID device, const std::string& outputType,
                      std::optional<float> volume) {
    std::lock_guard lock(mutex_);
    // Also false for a NaN, which no write takes.
    if (!volume || !(double(*volume) >= SoundController::kMuteThreshold)) {
        last_.reset();
        return;
    }
    last_ = Restore{device, outputType, std::min(*volume, 1.0f), Clock::now()};
}

std::optional<Settle::Restore> Settle::takePush(AudioDeviceID device, float volume,
                                                Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (last_ && now - last_->ended > kWindow) {
        last_.reset();
    }
    if (!last_ || last_->device != device || std::abs(volume - last_->volume) < kSameVolume) {
        return std::nullopt;
    }
    // Only once: what comes next is the user's.
    return std::exchange(last_, std::nullopt);
}

// Sonvela's window stores the volume the user sets before it sets it: a change to what the
// table holds now is the user's.
bool Settle::isStored(const std::string& outputType, float volume) {
    return std::abs(std::min(stored_(outputType), 1.0f) - volume) < kSameVolume;
}

void Settle::volumeChanged(AudioDeviceID device) {
    auto now = Clock::now();
    auto pushed = volumeOf(device);
    auto restore = pushed ? takePush(device, *pushed, now) : std::nullopt;
    if (!restore || isStored(restore->outputType, *pushed)) {
        return;
    }
    // The volume alone: a mute the user set meanwhile stays.
    if (setPropertyData(device, &kVolume, 0, nullptr, sizeof restore->volume, &restore->volume) !=
        kAudioHardwareNoError) {
        return;
    }
    auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - restore->ended);
    platform::log::nslog("%s: %f pushed by the device %lld ms after the restore; set back to %f",
                         platform::log::printable(restore->outputType).c_str(), double(*pushed),
                         static_cast<long long>(since.count()), double(restore->volume));
}
