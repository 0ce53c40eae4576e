#include "app/SettingsApplication.h"
#include "app/Translations.h"
#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"
#include "tests/support/UserLanguage.h"

#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QTranslator>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using platform::bundle::Bundle;

namespace {

// Every text of a window that a user sees or a screen reader says, by widget and property;
// numbers need no translation.
std::map<std::string, QString> shownTexts(QWidget* window) {
    std::map<std::string, QString> texts;
    auto add = [&](QWidget* widget, const char* what, const QString& text) {
        if (!text.isEmpty()) {
            QString where = widget->objectName().isEmpty() ? QString::number(quintptr(widget), 16)
                                                           : widget->objectName();
            texts[where.toStdString() + "." + what] = text;
        }
    };
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        add(widget, "title", widget->windowTitle());
        add(widget, "accessibleName", widget->accessibleName());
        add(widget, "accessibleDescription", widget->accessibleDescription());
        add(widget, "toolTip", widget->toolTip());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            add(widget, "text", label->text());
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            add(widget, "text", button->text());
        } else if (auto* box = qobject_cast<QSpinBox*>(widget)) {
            QString shown = box->text();
            if (std::any_of(shown.begin(), shown.end(), [](QChar c) { return c.isLetter(); })) {
                add(widget, "text", shown);
            }
            add(widget, "special", box->specialValueText());
            add(widget, "suffix", box->suffix());
        }
    }
    return texts;
}

// The interface file's texts, as the translators installed now give them.
std::map<std::string, QString> formTexts() {
    QWidget form;
    Ui::MainWindow ui;
    ui.setupUi(&form);
    return shownTexts(&form);
}

std::map<std::string, std::string> table(const std::string& folder, const char* name) {
    std::map<std::string, std::string> entries;
    auto path = std::string(SONVELA_APP_DIR) + "/Resources/" + folder + name + ".strings";
    for (const auto& [key, value] :
         platform::plist::readDictionary(path).value_or(platform::plist::Dictionary{})) {
        entries[key] = value.is<std::string>() ? *value.get<std::string>() : "";
    }
    return entries;
}

struct LanguageCase {
    const char* language;
    // Texts made as it runs that must be on show: names, composed texts, the held volume. (That
    // no other text is left in English, the test finds by itself.)
    std::vector<QString> shown;
    QString noOutput;
    // Qt's own texts, such as a message box's buttons.
    QString qtCancel;
    friend void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.language; }
};

class WindowLanguage : public testing::TestWithParam<LanguageCase> {
protected:
    void TearDown() override {
        Bundle::overrideMainForTesting(std::nullopt);
        for (auto* translator : qApp->findChildren<QTranslator*>()) {
            qApp->removeTranslator(translator);
            delete translator;
        }
    }

    // English texts that have a different translation: none of them may be on show.
    std::set<QString> englishOnly(const std::map<std::string, QString>& english,
                                  const std::map<std::string, QString>& translated) {
        std::set<QString> texts;
        for (const auto& [where, text] : english) {
            auto found = translated.find(where);
            if (found == translated.end() || found->second != text) {
                texts.insert(text);
            }
        }
        std::string folder = std::string(GetParam().language) + ".lproj/";
        for (const char* name : {"Localizable", "AudioDeviceName"}) {
            auto localized = table(folder, name);
            for (const auto& [key, value] : table("", name)) {
                if (localized[key] != value) {
                    texts.insert(QString::fromStdString(value));
                }
            }
        }
        return texts;
    }

    sonvela::test::TempHome home;
    sonvela::test::SimulatedAudio audio;
};

TEST_P(WindowLanguage, TheWindowShowsEveryTextInTheUsersLanguage) {
    const LanguageCase& c = GetParam();
    sonvela::test::UserLanguage language(c.language);
    auto english = formTexts();
    Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    ASSERT_EQ(Bundle::main().localization(), c.language);
    installTranslations(*qApp);
    auto translated = formTexts();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), c.qtCancel);
    std::set<QString> untranslated = englishOnly(english, translated);
    ASSERT_FALSE(untranslated.empty());

    SettingsApplication settings;
    settings.delegate().checkAudioDeviceDataSource();
    EXPECT_EQ(settings.window().ui().deviceNameLabel->text(), c.noOutput);
    // A ceiling that holds the stored volume, so that the window says so.
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    for (auto [name, volume] : {std::pair("config", 0.9), std::pair("ceilings", 0.6)}) {
        ASSERT_TRUE(
            platform::plist::writeXmlAtomically(home.configHome() + "/Sonvela/" + name + ".plist",
                                                platform::plist::Dictionary{{"hdpn", volume}}));
    }
    audio.output("hdpn", 0.5f);
    settings.delegate().checkAudioDeviceDataSource();
    settings.window().show();
    settings.window().ui().outputsFoldButton->setChecked(true);

    auto shown = shownTexts(&settings.window());
    std::set<QString> values;
    for (const auto& [where, text] : shown) {
        values.insert(text);
        EXPECT_FALSE(untranslated.contains(text))
            << where << " is in English: " << text.toStdString();
    }
    for (const auto& [where, text] : translated) {
        EXPECT_TRUE(values.contains(text)) << where << " not shown as " << text.toStdString();
    }
    for (const QString& text : c.shown) {
        EXPECT_TRUE(values.contains(text)) << text.toStdString();
    }
}

const LanguageCase kLanguageCases[] = {
    {"de",
     {"Kopfhörer", "Keine Obergrenze", "Kopfhörer: Gespeicherte Lautstärke",
      "Durch die Obergrenze bei 60 % gehalten"},
     "Keine Tonausgabe",
     "Abbrechen"},
    {"fr",
     {"Casque", "Sans plafond", "Micro-casque", "Casque : Volume enregistré",
      "Maintenu à 60 % par son plafond"},
     "Aucune sortie audio",
     "Annuler"},
};

INSTANTIATE_TEST_SUITE_P(Languages, WindowLanguage, testing::ValuesIn(kLanguageCases),
                         [](const auto& info) { return std::string(info.param.language); });

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
