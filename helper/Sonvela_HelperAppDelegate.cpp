#include "helper/Sonvela_HelperAppDelegate.h"

#include "platform/log/Log.h"
#include "shared/AppUtil.h"
#include "shared/SoundController.h"
#include "shared/SystemAudioListener.h"
#include "shared/VolumeTable.h"

#include <cctype>

using namespace platform::audio;

namespace {

// An output type that could not be read is four NUL bytes; the log shows such bytes as "?".
std::string printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        if (!std::isprint(static_cast<unsigned char>(c))) {
            c = '?';
        }
    }
    return shown;
}

} // namespace

bool Sonvela_HelperAppDelegate::isIgnored(const std::optional<std::string>& outputType) {
    return outputType && *outputType == VolumeTable::kIgnoredOutputType;
}

void Sonvela_HelperAppDelegate::applicationDidFinishLaunching() {
    registerListenerForAudioDevice();
    checkAudioDeviceDataSource();
}

void Sonvela_HelperAppDelegate::checkConfigFile() {
    VolumeTable::ensureUserTable();
}

void Sonvela_HelperAppDelegate::checkAudioDeviceDataSource() {
    std::shared_lock inFlight(restoring_);
    checkConfigFile();
    std::string type = SoundController::getInstance()->getAudioDeviceDataSourceName();
    float before = SoundController::getInstance()->getHardwareVolume();
    SoundController::getInstance()->setHardwareVolume(0.0f);

    float volume = 0.0f;
    if (isIgnored(type)) {
        volume = before;
    } else {
        // No table or no entry: 0, which keeps the output muted.
        volume = VolumeTable::storedVolume(AppUtil::getUserConfigFilePath(), type).value_or(0.0f);
    }
    SoundController::getInstance()->setHardwareVolume(volume);
    platform::log::nslog("output type: %s, volume: %f", printable(type).c_str(), double(volume));
}

void Sonvela_HelperAppDelegate::registerListenerForAudioDevice() {
    SystemAudioListener::add(audioObjectPropertyListenerProc, this);
}

void Sonvela_HelperAppDelegate::unregisterListenerForAudioDevice() {
    SystemAudioListener::remove(audioObjectPropertyListenerProc, this);
}

void Sonvela_HelperAppDelegate::finishRestores() {
    // Deliberately never released: the process ends right after.
    restoring_.lock();
}

OSStatus audioObjectPropertyListenerProc(AudioObjectID, std::uint32_t,
                                         const AudioObjectPropertyAddress*, void* clientData) {
    static_cast<Sonvela_HelperAppDelegate*>(clientData)->checkAudioDeviceDataSource();
    return kAudioHardwareNoError;
}
