#include "helper/CeilingGuard.h"

#include "helper/Settle.h"
#include "shared/SoundController.h"

#include <algorithm>

using namespace platform::audio;

namespace {

constexpr AudioObjectPropertyAddress kVolume{
    kAudioHardwareServiceDeviceProperty_VirtualMasterVolume, kAudioDevicePropertyScopeOutput,
    kAudioObjectPropertyElementMaster};
constexpr std::size_t kMostWatched = 8;

} // namespace

void CeilingGuard::watch(AudioDeviceID device) {
    std::lock_guard lock(mutex_);
    if (std::find(watched_.begin(), watched_.end(), device) != watched_.end() ||
        addPropertyListener(device, &kVolume, volumeChanged, this) != kAudioHardwareNoError) {
        return;
    }
    watched_.push_back(device);
    if (watched_.size() > kMostWatched) {
        removePropertyListener(watched_.front(), &kVolume, volumeChanged, this);
        watched_.pop_front();
    }
}

void CeilingGuard::check(AudioDeviceID changed) {
    SoundController* sound = SoundController::getInstance();
    if (changed != sound->getOutputDeviceID()) {
        return;
    }
    // A push set back lies under the ceiling already, unless the ceiling changed since.
    settle_.volumeChanged(changed);
    // Read when needed, like the volume table: a changed ceiling counts from the next event.
    if (auto ceiling = ceilings_(sound->getAudioDeviceDataSourceName())) {
        sound->limitHardwareVolume(*ceiling);
    }
}

OSStatus CeilingGuard::volumeChanged(AudioObjectID objectID, std::uint32_t,
                                     const AudioObjectPropertyAddress*, void* clientData) {
    static_cast<CeilingGuard*>(clientData)->check(objectID);
    return kAudioHardwareNoError;
}
