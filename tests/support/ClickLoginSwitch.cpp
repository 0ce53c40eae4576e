// A Qt plugin the package tests load into the settings program (QT_QPA_GENERIC_PLUGINS), which
// is left as it ships: it clicks the login-item switch as a user would and closes the window.
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
    // Made with the application object; the click waits for its event loop.
    QObject* create(const QString&, const QString&) override {
        QTimer::singleShot(0, qApp, clickTheLoginSwitch);
        return new QObject;
    }
};

#include "ClickLoginSwitch.moc"
