#include "helper/CeilingGuard.h"

#include "shared/SoundController.h"

using namespace platform::audio;

namespace {

constexpr AudioObjectPropertyAddress kVolume{
    kAudioHardwareServiceDeviceProperty_VirtualMasterVolume, kAudioDevicePropertyScopeOutput,
    kAudioObjectPropertyElementMaster};

} // namespace

void CeilingGuard::watchDefaultOutput() {
    std::lock_guard lock(mutex_);
    AudioDeviceID device = SoundController::getInstance()->getOutputDeviceID();
    if (device == watched_) {
        return;
    }
    if (watched_ != kAudioObjectUnknown) {
        removePropertyListener(watched_, &kVolume, volumeChanged, this);
    }
    watched_ = addPropertyListener(device, &kVolume, volumeChanged, this) == kAudioHardwareNoError
                   ? device
                   : kAudioObjectUnknown;
}

void CeilingGuard::check() {
    SoundController* sound = SoundController::getInstance();
    // Read when needed, like the volume table: a changed ceiling counts from the next event.
    if (auto ceiling = ceilings_(sound->getAudioDeviceDataSourceName())) {
        sound->limitHardwareVolume(*ceiling);
    }
}

OSStatus CeilingGuard::volumeChanged(AudioObjectID, std::uint32_t,
                                     const AudioObjectPropertyAddress*, void* clientData) {
    static_cast<CeilingGuard*>(clientData)->check();
    return kAudioHardwareNoError;
}
