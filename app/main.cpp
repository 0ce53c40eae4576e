#include "app/SettingsApplication.h"
#include "shared/SonvelaNames.h"
#include "app/Translations.h"

#include <QApplication>

int main(int argc, char** argv) {
    useSonvelaNames();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Sonvela"));
    app.setDesktopFileName(QStringLiteral("org.sonvela.Sonvela"));
    installTranslations(app);

    SettingsApplication settings;
    if (!settings.claim()) {
        return 0;
    }
    settings.start();
    return app.exec();
}
