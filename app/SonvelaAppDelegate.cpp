#include "app/SonvelaAppDelegate.h"

#include "app/KindDisplay.h"
#include "platform/bundle/Bundle.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
#include "shared/SoundController.h"
#include "shared/SystemAudioListener.h"
#include "shared/TQZAppTool.h"
#include "shared/VolumeTable.h"

#include <utility>

using namespace platform::audio;
using platform::bundle::Bundle;

namespace {

const char* const kHelperName = "Sonvela Helper";
const char* const kHelperBundleName = "Sonvela Helper.app";
const char* const kNoOutputName = "No sound output";
// What the output type reads as when there is no output: no sound server, or none to play on.
const std::string kNoOutputCode(4, '\0');

std::string helperPath() {
    return TQZAppTool::getResPath() + kHelperBundleName;
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

SonvelaAppDelegate::SonvelaAppDelegate() {
    // Observing starts at the end of start-up; the model's earlier writes only show.
    auto observe = [this](const QString& key) {
        return [this, key] {
            if (observing_) {
                observeValueForKeyPath(key);
            }
        };
    };
    connect(&configModel_, &ConfigModel::outputVolumeChanged, this,
            observe(ConfigModel::kOutputVolume));
    connect(&configModel_, &ConfigModel::isLoginItemChanged, this,
            observe(ConfigModel::kIsLoginItem));
    connect(&configModel_, &ConfigModel::isRunningChanged, this, observe(ConfigModel::kIsRunning));
    outputWatch_.setInterval(500);
    connect(&outputWatch_, &QTimer::timeout, this, &SonvelaAppDelegate::checkOutputStillThere);
}

SonvelaAppDelegate::~SonvelaAppDelegate() {
    if (stopper_.joinable()) {
        stopper_.join();
    }
}

bool SonvelaAppDelegate::isIgnored(const QString& outputType) {
    return outputType == QLatin1String(VolumeTable::kIgnoredOutputType);
}

void SonvelaAppDelegate::awakeFromNib() {
    if (window_) {
        window_->setWindowTitle(fromUtf8(Bundle::main().localizedString("Sonvela", "", "")));
    }
}

bool SonvelaAppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (hasVisibleWindows || !window_) {
        return false;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    return true;
}

void SonvelaAppDelegate::applicationDidFinishLaunching() {
    checkConfigFile();
    checkHelperRunningStatus();
    checkHelperLoginItemStatus();
    registerListenerForAudioDevice();
    checkAudioDeviceDataSource();
    // The start-up refresh set the lock for a write nobody observed; left set, it would swallow
    // the user's first change.
    configModel_.setValueForKey(false, ConfigModel::kIsLocked);
    observing_ = true;
}

void SonvelaAppDelegate::checkConfigFile() {
    VolumeTable::ensureUserTable();
}

void SonvelaAppDelegate::checkHelperRunningStatus() {
    if (!AppUtil::applicationIsRunning(kHelperName)) {
        AppUtil::launchApplication(helperPath());
    }
    configModel_.setValueForKey(true, ConfigModel::kIsRunning);
}

void SonvelaAppDelegate::checkHelperLoginItemStatus() {
    configModel_.setValueForKey(AppUtil::applicationIsLoginItem(kHelperBundleName),
                                ConfigModel::kIsLoginItem);
}

void SonvelaAppDelegate::registerListenerForAudioDevice() {
    SystemAudioListener::add(audioObjectPropertyListenerProc, this);
}

void SonvelaAppDelegate::unregisterListenerForAudioDevice() {
    SystemAudioListener::remove(audioObjectPropertyListenerProc, this);
}

void SonvelaAppDelegate::checkAudioDeviceDataSource() {
    std::string type = SoundController::sharedSoundController()->getAudioDeviceDataSourceName();
    QString name;
    if (type == kNoOutputCode) {
        // Said in words, not as four NUL bytes; the empty type keeps the volume controls off.
        type.clear();
        name = fromUtf8(Bundle::main().localizedString(kNoOutputName, "", ""));
    } else {
        name = KindDisplay::displayNameFor(type);
        // Where the sound is heard, and the effects sink it passes on its way there.
        std::string front = SoundController::sharedSoundController()->getSinkInFrontDescription();
        if (!front.empty()) {
            name += QLatin1Char('\n') + KindDisplay::text("through %1").arg(fromUtf8(front));
        }
    }
    configModel_.setValueForKey(fromUtf8(type), ConfigModel::kDeviceType);
    configModel_.setValueForKey(name, ConfigModel::kDeviceName);
    configModel_.setValueForKey(KindDisplay::iconFor(type), ConfigModel::kDeviceIcon);

    std::optional<float> stored;
    if (!type.empty() && !isIgnored(fromUtf8(type))) {
        stored = VolumeTable::storedVolume(AppUtil::getUserConfigFilePath(), type);
    }
    float volume = stored ? *stored : SoundController::getInstance()->getHardwareVolume();
    configModel_.setValueForKey(true, ConfigModel::kIsLocked);
    configModel_.setValueForKey(QVariant::fromValue(KindDisplay::percentOf(volume)),
                                ConfigModel::kOutputVolume);
}

void SonvelaAppDelegate::watchForLostOutput(bool watching) {
    if (watching) {
        outputWatch_.start();
        // A window shown again may still show what was there when it was hidden.
        checkOutputStillThere();
    } else {
        outputWatch_.stop();
    }
}

void SonvelaAppDelegate::checkOutputStillThere() {
    // With no output shown, the server's return is reported by the sound layer.
    if (configModel_.deviceType().isEmpty()) {
        return;
    }
    if (SoundController::sharedSoundController()->getAudioDeviceDataSourceName() == kNoOutputCode) {
        checkAudioDeviceDataSource();
    }
}

void SonvelaAppDelegate::observeValueForKeyPath(const QString& keyPath) {
    if (keyPath == ConfigModel::kOutputVolume) {
        outputVolumeChangedHandler();
    } else if (keyPath == ConfigModel::kIsLoginItem) {
        isLoginItemChangedHandler();
    } else if (keyPath == ConfigModel::kIsRunning) {
        isRunningChangedHandler();
    }
}

void SonvelaAppDelegate::outputVolumeChangedHandler() {
    if (configModel_.isLocked()) {
        configModel_.setValueForKey(false, ConfigModel::kIsLocked);
        return;
    }
    QString type = configModel_.deviceType();
    if (type.isEmpty()) {
        // No output: nothing to store a volume for, nothing to set it on.
        return;
    }
    float volume = KindDisplay::fractionOf(configModel_.outputVolume());
    if (!isIgnored(type)) {
        QByteArray key = type.toUtf8();
        VolumeTable::storeVolume(AppUtil::getUserConfigFilePath(),
                                 std::string(key.constData(), std::size_t(key.size())), volume);
    }
    SoundController::getInstance()->setHardwareVolume(volume);
}

void SonvelaAppDelegate::isRunningChangedHandler() {
    if (configModel_.isRunning()) {
        AppUtil::launchApplication(helperPath());
    } else {
        stopHelper();
    }
}

void SonvelaAppDelegate::stopHelper() {
    if (stopping_) {
        // The stop under way reports for this one too.
        return;
    }
    stopping_ = true;
    emit helperStopping(true);
    // The stop waits for the helper's end; the window must not freeze meanwhile.
    stopper_ = std::thread([this] {
        AppUtil::killApplicationByName(kHelperName);
        bool stillRunning = AppUtil::applicationIsRunning(kHelperName);
        QMetaObject::invokeMethod(
            this, [this, stillRunning] { helperStopEnded(stillRunning); }, Qt::QueuedConnection);
    });
}

void SonvelaAppDelegate::helperStopEnded(bool stillRunning) {
    stopper_.join();
    stopping_ = false;
    // What the stop left is shown, not carried out as a new change.
    bool observing = std::exchange(observing_, false);
    configModel_.setValueForKey(stillRunning, ConfigModel::kIsRunning);
    observing_ = observing;
    emit helperStopping(false);
}

void SonvelaAppDelegate::isLoginItemChangedHandler() {
    if (configModel_.isLoginItem()) {
        AddLoginItemWithPropertiesToUser(platform::prefs::kCFPreferencesCurrentUser,
                                         helperPath().c_str(), 0);
    } else {
        int index = AppUtil::getLoginItemIndexByApplicationName(kHelperBundleName);
        if (index >= 0) {
            RemoveLoginItemAtIndex(platform::prefs::kCFPreferencesCurrentUser, index);
        }
    }
    PrintOutAllLoginItems(platform::prefs::kCFPreferencesCurrentUser);
    std::fflush(stdout);
}

OSStatus audioObjectPropertyListenerProc(AudioObjectID, std::uint32_t,
                                         const AudioObjectPropertyAddress*, void* clientData) {
    // The refresh touches the model and the widgets: it runs on the GUI thread, in order with
    // the user's own changes.
    auto* delegate = static_cast<SonvelaAppDelegate*>(clientData);
    QMetaObject::invokeMethod(
        delegate, [delegate] { delegate->checkAudioDeviceDataSource(); }, Qt::QueuedConnection);
    return kAudioHardwareNoError;
}
