#include "app/SettingsApplication.h"

#include "platform/alert/Alert.h"
#include "platform/bundle/Bundle.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"

#include <QApplication>
#include <QLocalSocket>
#include <QMessageBox>
#include <QThread>
#include <unistd.h>

namespace {

// A modal box on the GUI thread; a caller on another thread waits until it is dismissed.
void presentAlert(const std::string& message) {
    auto show = [text = QString::fromStdString(message)] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Sonvela"), text, QMessageBox::Ok);
        box.exec();
    };
    if (QThread::currentThread() == qApp->thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
    }
}

} // namespace

SettingsApplication::SettingsApplication() {
    window_.setShouldClose([this] { return delegate_.windowShouldClose(); });
    delegate_.setWindow(&window_);
    delegate_.awakeFromNib();
    window_.bind(delegate_.configModel());
    if (auto icon = platform::bundle::Bundle::main().pathForResource("sonvela", "icns")) {
        window_.setWindowIcon(QIcon(QString::fromStdString(*icon)));
    }
}

QString SettingsApplication::reopenAddress() {
    return QStringLiteral("org.sonvela.Sonvela-%1").arg(getuid());
}

bool SettingsApplication::claim() {
    if (platform::process::claimSingleInstance()) {
        return true;
    }
    QLocalSocket running;
    running.connectToServer(reopenAddress());
    running.waitForConnected(1000);
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
    // Only the copy holding the instance lock gets here, so an old socket is a leftover.
    QLocalServer::removeServer(reopenAddress());
    reopen_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&reopen_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = reopen_.nextPendingConnection()) {
            peer->deleteLater();
        }
        delegate_.applicationShouldHandleReopen(window_.isVisible());
    });
    reopen_.listen(reopenAddress());
}
