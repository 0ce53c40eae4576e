#pragma once

class QCoreApplication;

// Puts the window's own texts into the language that the bundle chose for its strings tables:
// the bundle's Sonvela.qm, and Qt's texts (dialog buttons, edit menus) for the same language.
// Before the window is built, which translates its texts as it sets them up.
void installTranslations(QCoreApplication& application);
