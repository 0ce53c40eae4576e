#include "app/SonvelaAppDelegate.h"

#include "platform/bundle/Bundle.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
#include "shared/SoundController.h"
#include "shared/SystemAudioListener.h"
#include "shared/TQZAppTool.h"
#include "shared/VolumeTable.h"

#include <QIcon>
#include <cmath>
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
    connect(&configModel_, &ConfigModel::valueChanged, this, [this](const QString& key) {
        // Observing starts at the end of start-up; the model's earlier writes only show.
        if (observing_) {
            observeValueForKeyPath(key);
        }
    });
}

SonvelaAppDelegate::~SonvelaAppDelegate() {
    if (stopper_.joinable()) {
        stopper_.join();
    }
}

bool SonvelaAppDelegate::isIgnored(const QString& outputType) {
    return outputType == QLatin1String(VolumeTable::kIgnoredOutputType);
}

quint32 SonvelaAppDelegate::percentOf(float volume) {
    float percent = volume * 100.0f;
    if (!(percent > 0.0f)) {
        return 0;
    }
    if (percent >= 4294967295.0f) {
        return 0xFFFFFFFFu;
    }
    // A hundredth of a percent is below anything a user sets and above the rounding of a
    // float or of the sound server's volume steps.
    float whole = std::round(percent);
    if (whole - percent > 0.0f && whole - percent < 0.01f) {
        return quint32(whole);
    }
    return quint32(percent);
}

float SonvelaAppDelegate::fractionOf(quint32 percent) {
    return float(double(percent) / 100.0);
}

QString SonvelaAppDelegate::displayNameFor(const std::string& outputType) {
    return fromUtf8(Bundle::main().localizedString(outputType, "", "AudioDeviceName"));
}

QIcon SonvelaAppDelegate::iconFor(const std::string& outputType) {
    const Bundle& bundle = Bundle::main();
    std::string name = bundle.localizedString(outputType, "", "AudioDeviceIcon");
    if (name == outputType) {
        name = "sonvela.icns";
    }
    auto path = bundle.pathForResource(name, "");
    return path ? QIcon(fromUtf8(*path)) : QIcon();
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
        name = displayNameFor(type);
    }
    configModel_.setValueForKey(fromUtf8(type), ConfigModel::kDeviceType);
    configModel_.setValueForKey(name, ConfigModel::kDeviceName);
    configModel_.setValueForKey(iconFor(type), ConfigModel::kDeviceIcon);

    std::optional<float> stored;
    if (!type.empty() && !isIgnored(fromUtf8(type))) {
        stored = VolumeTable::storedVolume(AppUtil::getUserConfigFilePath(), type);
    }
    float volume = stored ? *stored : SoundController::getInstance()->getHardwareVolume();
    configModel_.setValueForKey(true, ConfigModel::kIsLocked);
    configModel_.setValueForKey(QVariant::fromValue(percentOf(volume)), ConfigModel::kOutputVolume);
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
    float volume = fractionOf(configModel_.outputVolume());
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
