#pragma once

#include "app/MainWindow.h"
#include "app/SonvelaAppDelegate.h"

#include <QLocalServer>

// The settings program as it starts: one copy per user session. A second start asks the
// running copy to show its window again and ends.
class SettingsApplication : public QObject {
    Q_OBJECT

public:
    SettingsApplication();

    // False when another copy runs; it has been asked to show its window.
    bool claim();
    // Builds the window, shows it and runs the start-up.
    void start();

    SonvelaAppDelegate& delegate() { return delegate_; }
    MainWindow& window() { return window_; }

private:
    void listenForReopen();
    void bringWindowForward();

    SonvelaAppDelegate delegate_;
    MainWindow window_;
    QLocalServer reopen_;
};
