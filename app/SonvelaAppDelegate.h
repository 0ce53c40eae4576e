#pragma once

#include "app/ConfigModel.h"
#include "platform/audio/AudioObject.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <string>
#include <thread>

// The settings program's controller: fills the model from the sound system and carries the
// user's changes out (store and apply a volume, start or stop the helper, log-in item).
class SonvelaAppDelegate : public QObject {
    Q_OBJECT

public:
    SonvelaAppDelegate();
    // Waits for a stop of the helper that is still under way.
    ~SonvelaAppDelegate() override;

    static bool isIgnored(const QString& outputType);

    QWidget* window() const { return window_; }
    void setWindow(QWidget* window) { window_ = window; }
    ConfigModel* configModel() { return &configModel_; }

    void awakeFromNib();
    bool windowShouldClose() const { return true; }
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationDidFinishLaunching();

    void checkConfigFile();
    void checkHelperRunningStatus();
    void checkHelperLoginItemStatus();
    void registerListenerForAudioDevice();
    void unregisterListenerForAudioDevice();
    void checkAudioDeviceDataSource();

    // The sound layer reports a server that comes, not one that goes: while the window is
    // shown, a look twice a second finds the output gone and refreshes.
    void watchForLostOutput(bool watching);

    void observeValueForKeyPath(const QString& keyPath);
    void outputVolumeChangedHandler();
    void isRunningChangedHandler();
    void isLoginItemChangedHandler();

signals:
    // A stop of the helper waits up to 2 s for its end, away from the GUI thread; true while
    // it does. At its end isRunning shows whether the helper still runs.
    void helperStopping(bool stopping);

private:
    void checkOutputStillThere();
    void stopHelper();
    void helperStopEnded(bool stillRunning);

    QPointer<QWidget> window_;
    ConfigModel configModel_;
    bool observing_ = false;
    bool stopping_ = false;
    QTimer outputWatch_;
    std::thread stopper_;
};

platform::audio::OSStatus audioObjectPropertyListenerProc(
    platform::audio::AudioObjectID objectID, std::uint32_t numberAddresses,
    const platform::audio::AudioObjectPropertyAddress* addresses, void* clientData);
