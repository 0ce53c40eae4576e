#include "app/SettingsApplication.h"

#include "platform/alert/Alert.h"
#include "platform/bundle/Bundle.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"

#include <QApplication>
#include <QLocalSocket>
#include <QMessageBox>
#include <QThread>
#include <optional>

using platform::bundle::Bundle;

namespace {

// A modal box on the GUI thread; a caller on another thread waits until it is dismissed. The log
// keeps the message as it is; the user reads it in their language.
void presentAlert(const std::string& message) {
    auto show = [text = QString::fromStdString(Bundle::main().localizedString(message, "", ""))] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Sonvela"), text, QMessageBox::Ok);
        box.exec();
    };
    if (QThread::currentThread() == qApp->thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
    }
}

// Beside the instance lock, in the user's own runtime folder: where no lock guards the program
// there is no running copy to ask either.
std::optional<QString> reopenAddress() {
    auto identifier = Bundle::main().infoValue("CFBundleIdentifier");
    if (!identifier || !identifier->is<std::string>()) {
        return std::nullopt;
    }
    auto lock = platform::process::InstanceLock::pathFor(*identifier->get<std::string>());
    if (!lock) {
        return std::nullopt;
    }
    return QString::fromStdString(lock->substr(0, lock->rfind('.')) + ".reopen");
}

} // namespace

SettingsApplication::SettingsApplication() {
    window_.setShouldClose([this] { return delegate_.windowShouldClose(); });
    delegate_.setWindow(&window_);
    delegate_.awakeFromNib();
    window_.bind(delegate_.configModel());
    connect(&delegate_, &SonvelaAppDelegate::helperStopping, &window_,
            &MainWindow::setRunningSwitchWaiting);
    connect(&window_, &MainWindow::shownChanged, &delegate_,
            &SonvelaAppDelegate::watchForLostOutput);
    if (auto icon = Bundle::main().pathForResource("sonvela", "icns")) {
        window_.setWindowIcon(QIcon(QString::fromStdString(*icon)));
    }
}

bool SettingsApplication::claim() {
    if (platform::process::claimSingleInstance()) {
        return true;
    }
    if (auto address = reopenAddress()) {
        QLocalSocket running;
        running.connectToServer(*address);
        running.waitForConnected(1000);
    }
    return false;
}

void SettingsApplication::start() {
    platform::alert::setPresenter(presentAlert);
    qApp->setQuitOnLastWindowClosed(delegate_.applicationShouldTerminateAfterLastWindowClosed());
    listenForReopen();
    // Started hidden from the login items: the window waits for a reopen.
    if (!platform::process::launchedHidden()) {
        window_.show();
    }
    delegate_.applicationDidFinishLaunching();
}

void SettingsApplication::listenForReopen() {
    auto address = reopenAddress();
    if (!address) {
        return;
    }
    // Only the copy holding the instance lock gets here, so an old socket is a leftover.
    QLocalServer::removeServer(*address);
    reopen_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&reopen_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = reopen_.nextPendingConnection()) {
            peer->deleteLater();
        }
        bringWindowForward();
    });
    reopen_.listen(*address);
}

void SettingsApplication::bringWindowForward() {
    if (delegate_.applicationShouldHandleReopen(window_.isVisible())) {
        return;
    }
    // Started again, Sonvela is asked for its window: it comes to the front also when it was
    // open behind other windows or minimised.
    window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.raise();
    window_.activateWindow();
}
