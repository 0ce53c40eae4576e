// A Qt plugin that the package tests have the settings program load (QT_QPA_GENERIC_PLUGINS):
// once the program's event loop runs, it clicks the login-item switch as a user would, says so
// on standard error and closes the window, which ends the program. The program itself is left
// as it ships, and nothing else the launcher starts reads these variables.
#include <QApplication>
#include <QCheckBox>
#include <QGenericPlugin>
#include <QTimer>

#include <cstdio>

namespace {

void clickTheLoginSwitch() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* box = window->findChild<QCheckBox*>(QStringLiteral("loginItemCheckBox"))) {
            box->click();
            std::fprintf(stderr, "clicked the login switch: %s\n", box->isChecked() ? "on" : "off");
            window->close();
            return;
        }
    }
    std::fprintf(stderr, "no login switch to click\n");
    QCoreApplication::exit(3);
}

} // namespace

class ClickLoginSwitchPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ClickLoginSwitch.json")

public:
    // Created while the application object is being made; the click waits for its event loop.
    QObject* create(const QString&, const QString&) override {
        QTimer::singleShot(0, qApp, clickTheLoginSwitch);
        return new QObject;
    }
};

#include "ClickLoginSwitch.moc"
