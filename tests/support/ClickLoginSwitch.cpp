// Loaded into the settings program with LD_PRELOAD by the package tests. Once the program's
// event loop runs, it clicks the login-item switch as a user would, says so on standard error
// and closes the window, which ends the program. The program itself is left as it ships.
#include <QApplication>
#include <QCheckBox>
#include <QTimer>

#include <cstdio>

namespace {

void clickTheLoginSwitchOnceRunning() {
    QTimer::singleShot(0, qApp, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* box = window->findChild<QCheckBox*>(QStringLiteral("loginItemCheckBox"))) {
                box->click();
                std::fprintf(stderr, "clicked the login switch: %s\n",
                             box->isChecked() ? "on" : "off");
                window->close();
                return;
            }
        }
        std::fprintf(stderr, "no login switch to click\n");
        QCoreApplication::exit(3);
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(clickTheLoginSwitchOnceRunning)
