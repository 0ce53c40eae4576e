#include "helper/Sonvela_HelperAppDelegate.h"

#include "platform/alert/Alert.h"
#include "platform/bundle/Bundle.h"
#include "platform/log/Log.h"
#include "shared/AppUtil.h"
#include "shared/CeilingTable.h"
#include "shared/SoundController.h"
#include "shared/SystemAudioListener.h"
#include "shared/VolumeTable.h"

using namespace platform::audio;

bool Sonvela_HelperAppDelegate::isIgnored(const std::optional<std::string>& outputType) {
    return outputType && *outputType == VolumeTable::kIgnoredOutputType;
}

Sonvela_HelperAppDelegate::~Sonvela_HelperAppDelegate() {
    platform::alert::setPresenter(nullptr);
}

void Sonvela_HelperAppDelegate::applicationDidFinishLaunching() {
    // The log keeps the message as it is; the notification is in the user's language.
    platform::alert::setPresenter([this](const std::string& message) {
        notifier_.post(platform::bundle::Bundle::main().localizedString(message, "", ""));
    });
    registerListenerForAudioDevice();
    // At login the helper may start before the sound server. There is nothing to mute then, and
    // the audio layer has said so in the log; the restore runs when the server comes.
    if (SoundController::getInstance()->getOutputDeviceID() == kAudioObjectUnknown) {
        return;
    }
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

    float volume = isIgnored(type) ? before : storedVolume(type);
    float applied = volume;
    auto ceiling = ceilingFor(type);
    if (ceiling && *ceiling < volume) {
        applied = *ceiling;
    }
    SoundController::getInstance()->setHardwareVolume(applied);
    if (ceiling && applied >= 1.0f) {
        // A boost reads as 1.0 and a volume write of 1.0 keeps it; a ceiling of 1.0 cuts it.
        SoundController::getInstance()->limitHardwareVolume(*ceiling);
    }
    AudioDeviceID output = SoundController::getInstance()->getOutputDeviceID();
    // The ignored type keeps the volume it had: there is nothing to go back to.
    settle_.restored(output, type, isIgnored(type) ? std::nullopt : std::optional(applied));
    ceilings_.watch(output);
    platform::log::nslog("output type: %s, volume: %f", platform::log::printable(type).c_str(),
                         double(volume));
    if (applied != volume) {
        platform::log::nslog("ceiling for %s: %f", platform::log::printable(type).c_str(),
                             double(applied));
    }
}

float Sonvela_HelperAppDelegate::storedVolume(const std::string& type) {
    auto path = AppUtil::getUserConfigFilePath();
    auto stored = VolumeTable::storedVolume(path, type);
    if (!stored && path) {
        reportUnreadableTable(*path);
    }
    // No table or no entry: 0, which keeps the output muted.
    return stored.value_or(0.0f);
}

std::optional<float> Sonvela_HelperAppDelegate::ceilingFor(const std::string& type) {
    auto path = CeilingTable::getUserCeilingsFilePath();
    auto ceiling = CeilingTable::ceiling(path, type);
    if (!ceiling && path) {
        reportUnreadableTable(*path);
    }
    return ceiling;
}

void Sonvela_HelperAppDelegate::reportUnreadableTable(const std::string& path) {
    auto unreadable = VolumeTable::whyUnreadable(path);
    std::lock_guard lock(reportMutex_);
    // Once for each version of the file: every restore reads it again.
    if (unreadable && unreadable->version != reported_[path]) {
        platform::log::nslog("cannot read %s: %s", path.c_str(), unreadable->reason.c_str());
        reported_[path] = unreadable->version;
    }
}

void Sonvela_HelperAppDelegate::registerListenerForAudioDevice() {
    SystemAudioListener::add(audioObjectPropertyListenerProc, this);
}

void Sonvela_HelperAppDelegate::unregisterListenerForAudioDevice() {
    SystemAudioListener::remove(audioObjectPropertyListenerProc, this);
}

void Sonvela_HelperAppDelegate::finishRestores() {
    using namespace std::chrono_literals;
    // Deliberately never released: the process ends right after.
    if (restoring_.try_lock_for(1s)) {
        return;
    }
    // The restore in flight waits for a server that does not answer.
    giveUpWaiting();
    restoring_.try_lock_for(500ms);
    platform::log::nslog("stopped before the sound server answered: the last restore was cut short "
                         "and the output may stay muted");
}

OSStatus audioObjectPropertyListenerProc(AudioObjectID, std::uint32_t,
                                         const AudioObjectPropertyAddress*, void* clientData) {
    static_cast<Sonvela_HelperAppDelegate*>(clientData)->checkAudioDeviceDataSource();
    return kAudioHardwareNoError;
}
