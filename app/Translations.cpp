#include "app/Translations.h"

#include "platform/bundle/Bundle.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

using platform::bundle::Bundle;

void installTranslations(QCoreApplication& application) {
    const Bundle& bundle = Bundle::main();
    if (!bundle.localization()) {
        return;
    }
    auto own = bundle.pathForResource("Sonvela", "qm");
    auto* window = new QTranslator(&application);
    if (own && window->load(QString::fromStdString(*own))) {
        application.installTranslator(window);
    }
    auto* qt = new QTranslator(&application);
    if (qt->load(QStringLiteral("qtbase_") + QString::fromStdString(*bundle.localization()),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        application.installTranslator(qt);
    }
}
