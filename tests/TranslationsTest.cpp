#include "platform/bundle/Bundle.h"
#include "platform/bundle/UserLanguages.h"
#include "platform/plist/PlistFile.h"
#include "tests/support/TempHome.h"

#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <filesystem>

using platform::bundle::Bundle;
using sonvela::test::readAll;
using sonvela::test::UserLanguage;

namespace {

// The languages the programs have besides English.
const QStringList kLanguages = QString(SONVELA_LANGUAGES).split(',');

// "%1", "%@", "%d", "%2$s": what a text's translation must keep.
std::multiset<std::string> placeholders(const std::string& text) {
    static const QRegularExpression placeholder(R"(%(\d+\$)?[@dsfu]|%L?\d)");
    std::multiset<std::string> found;
    for (const auto& match : placeholder.globalMatch(QString::fromStdString(text))) {
        found.insert(match.captured().toStdString());
    }
    return found;
}

struct TableCase {
    const char* name;
    const char* resources;
    const char* table;
    friend void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }
};

class StringsTable : public testing::TestWithParam<TableCase> {};

// Every text of a base table (what the programs show) has a translation in every language, and
// no language keeps an entry that the base table dropped.
TEST_P(StringsTable, EveryLanguageTranslatesEveryEntry) {
    const TableCase& c = GetParam();
    std::string resources = c.resources;
    auto base = platform::plist::readDictionary(resources + "/" + c.table + ".strings");
    ASSERT_TRUE(base && !base->empty());
    for (const QString& language : kLanguages) {
        std::string path =
            resources + "/" + language.toStdString() + ".lproj/" + c.table + ".strings";
        auto localized = platform::plist::readDictionary(path);
        ASSERT_TRUE(localized) << path;
        for (const auto& [key, value] : *base) {
            auto found = localized->find(key);
            bool translated = found != localized->end() && found->second.is<std::string>() &&
                              !found->second.get<std::string>()->empty();
            ASSERT_TRUE(translated) << "\"" << key << "\" has no translation in " << path;
            EXPECT_EQ(placeholders(*found->second.get<std::string>()),
                      placeholders(*value.get<std::string>()))
                << key << " in " << path;
        }
        for (const auto& [key, value] : *localized) {
            EXPECT_TRUE(base->contains(key)) << "\"" << key << "\" is no longer shown: " << path;
        }
    }
}

const TableCase kTableCases[] = {
    {"Window", SONVELA_APP_DIR "/Resources", "Localizable"},
    {"OutputNames", SONVELA_APP_DIR "/Resources", "AudioDeviceName"},
    {"HelperNotifications", SONVELA_HELPER_APP_DIR "/Resources", "Localizable"},
};

INSTANTIATE_TEST_SUITE_P(Tables, StringsTable, testing::ValuesIn(kTableCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The messages of a Linguist file that have no finished translation, or lose a placeholder.
std::vector<std::string> untranslated(const std::string& ts) {
    std::vector<std::string> missing;
    QXmlStreamReader xml(QByteArray::fromStdString(readAll(ts)));
    std::string source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (xml.name() == u"source") {
            source = xml.readElementText().toStdString();
        } else if (xml.name() == u"translation") {
            QString type = xml.attributes().value("type").toString();
            std::string text =
                xml.readElementText(QXmlStreamReader::IncludeChildElements).toStdString();
            if (type == "vanished" || type == "obsolete") {
                continue;
            }
            if (type == "unfinished" || text.empty() ||
                placeholders(text) != placeholders(source)) {
                missing.push_back(source);
            }
        }
    }
    EXPECT_FALSE(xml.hasError()) << ts << ": " << xml.errorString().toStdString();
    return missing;
}

// The window's own texts, as Linguist finds them in the sources today, are all translated.
TEST(LinguistFiles, EveryWindowTextHasAFinishedTranslation) {
    sonvela::test::TempHome home;
    for (const QString& name : kLanguages) {
        const std::string language = name.toStdString();
        const std::string ts = home.path() + "/" + language + ".ts";
        std::filesystem::copy_file(
            SONVELA_SOURCE_DIR "/resources/Sonvela/" + language + ".lproj/Sonvela.ts", ts);
        QProcess lupdate;
        lupdate.start(SONVELA_LUPDATE,
                      {"-no-obsolete", "-locations", "none", "-silent", "-extensions", "cpp,h,ui",
                       SONVELA_SOURCE_DIR "/app", "-ts", QString::fromStdString(ts)});
        ASSERT_TRUE(lupdate.waitForFinished(60000));
        ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
        EXPECT_EQ(untranslated(ts), std::vector<std::string>()) << language;
    }
}

// The desktop entry's and the metainfo's texts in every language.
TEST(DesktopFiles, NameAndSummaryInEveryLanguage) {
    auto text = [](const char* name) {
        return QString::fromStdString(
            readAll(std::string(SONVELA_SOURCE_DIR "/resources/desktop/") + name));
    };
    QString entry = text("org.sonvela.Sonvela.desktop");
    QString metainfo = text("org.sonvela.Sonvela.metainfo.xml.in");
    for (const QString& language : kLanguages) {
        for (const QString key : {"Name", "Comment", "Keywords"}) {
            EXPECT_TRUE(
                entry.contains(QRegularExpression("\n" + key + "\\[" + language + "\\]=.+\n")))
                << key.toStdString() << "[" << language.toStdString() << "]";
        }
        for (const QString tag : {"name", "summary", "caption"}) {
            EXPECT_TRUE(metainfo.contains(
                QRegularExpression("<" + tag + " xml:lang=\"" + language + "\">.+</")))
                << tag.toStdString() << " " << language.toStdString();
        }
    }
}

struct LanguagesCase {
    const char* name;
    const char* language;
    const char* all;
    const char* messages;
    const char* lang;
    std::vector<std::string> expected;
    friend void PrintTo(const LanguagesCase& c, std::ostream* os) { *os << c.name; }
};

class UserLanguages : public testing::TestWithParam<LanguagesCase> {};

TEST_P(UserLanguages, FollowTheEnvironmentAsGettextDoes) {
    const LanguagesCase& c = GetParam();
    UserLanguage set(c.language, c.all, c.messages, c.lang);
    EXPECT_EQ(platform::bundle::userLanguages(), c.expected);
}

const LanguagesCase kLanguagesCases[] = {
    {"NothingSet", nullptr, nullptr, nullptr, nullptr, {}},
    {"LangWithCodeset", nullptr, nullptr, nullptr, "de_DE.UTF-8", {"de_DE", "de"}},
    {"MessagesBeforeLang", nullptr, nullptr, "fr_CA.UTF-8", "de_DE.UTF-8", {"fr_CA", "fr"}},
    {"AllBeforeMessages", nullptr, "fr_FR", "de_DE", "en_US", {"fr_FR", "fr"}},
    {"ListInsteadOfLocale", "fr_CA:de", nullptr, nullptr, "en_US.UTF-8", {"fr_CA", "fr", "de"}},
    {"ListUnderCUtf8", "de", nullptr, nullptr, "C.UTF-8", {"de"}},
    {"ListIgnoredWithoutLocale", "de", nullptr, nullptr, nullptr, {}},
    {"ListIgnoredUnderC", "de", nullptr, nullptr, "C", {}},
    {"ListIgnoredUnderPosix", "de", "POSIX", nullptr, "de_DE", {}},
    {"EmptyListMeansLocale", "", nullptr, nullptr, "fr_BE.UTF-8", {"fr_BE", "fr"}},
    {"Modifier",
     "sr_RS@latin",
     nullptr,
     nullptr,
     "C.UTF-8",
     {"sr_RS@latin", "sr@latin", "sr_RS", "sr"}},
    {"EmptyAndRepeatedEntries", "::de:de_DE:", nullptr, nullptr, "C.UTF-8", {"de", "de_DE"}},
    {"NamesThatLeaveAFolderDropped", "../../etc:x/y:dé:fr", nullptr, nullptr, "C.UTF-8", {"fr"}},
    {"CLocaleNamesNoLanguage", nullptr, nullptr, nullptr, "C.UTF-8", {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, UserLanguages, testing::ValuesIn(kLanguagesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A bundle in English with German and French tables; the German one lacks an entry and has the
// window's compiled texts.
class LocalizedBundle : public testing::Test {
protected:
    void SetUp() override {
        using namespace platform::plist;
        namespace t = sonvela::test;
        t::makeDirs(resources + "/de.lproj");
        t::makeDirs(resources + "/fr.lproj");
        writeXmlAtomically(bundle + "/Info.plist",
                           Dictionary{{"CFBundleDevelopmentRegion", Value("en")}});
        writeXmlAtomically(resources + "/Localizable.strings",
                           Dictionary{{"Output", Value("Output")}, {"Ceiling", Value("Ceiling")}});
        writeXmlAtomically(resources + "/de.lproj/Localizable.strings",
                           Dictionary{{"Output", Value("Ausgang")}});
        writeXmlAtomically(resources + "/fr.lproj/Localizable.strings",
                           Dictionary{{"Output", Value("Sortie")}, {"Ceiling", Value("Plafond")}});
        t::writeAll(resources + "/de.lproj/Sonvela.qm", "de");
        t::writeAll(resources + "/sonvela.icns", "icon");
        t::writeAll(resources + "/de.lproj/sonvela.icns", "not this one");
    }
    sonvela::test::TempHome home;
    std::string bundle = home.path() + "/Sonvela.app";
    std::string resources = bundle + "/Resources";
};

struct LookupCase {
    const char* name;
    const char* language;
    const char* lang;
    std::optional<std::string> localization;
    const char* output;
    const char* ceiling;
    friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }
};

class Lookup : public LocalizedBundle, public testing::WithParamInterface<LookupCase> {};

TEST_P(Lookup, TakesTheFirstLanguageWithATableAndTheBaseForWhatItLacks) {
    const LookupCase& c = GetParam();
    UserLanguage set(c.language, nullptr, nullptr, c.lang);
    Bundle localized(bundle);
    EXPECT_EQ(localized.localization(), c.localization);
    EXPECT_EQ(localized.localizedString("Output", "", ""), c.output);
    EXPECT_EQ(localized.localizedString("Ceiling", "", "Localizable"), c.ceiling);
    EXPECT_EQ(localized.localizedString("Missing", "", ""), "Missing");
    EXPECT_EQ(localized.localizedString("Missing", "Fallback", ""), "Fallback");
    EXPECT_EQ(localized.localizedString("Output", "", "../Localizable"), "Output");
    // Other resources come from the language folder only when the base has none.
    EXPECT_EQ(localized.pathForResource("Sonvela", "qm"),
              c.localization == "de" ? std::optional(resources + "/de.lproj/Sonvela.qm")
                                     : std::nullopt);
    EXPECT_EQ(localized.pathForResource("sonvela.icns", ""), resources + "/sonvela.icns");
    EXPECT_EQ(localized.pathForResource("Missing", "qm"), std::nullopt);
}

const LookupCase kLookupCases[] = {
    {"RegionFallsBackToLanguage", nullptr, "de_AT.UTF-8", "de", "Ausgang", "Ceiling"},
    {"FirstLanguageWithAFolder", "es:fr:de", "C.UTF-8", "fr", "Sortie", "Plafond"},
    {"EnglishFirstMeansTheBase", "en_GB:de", "de_DE.UTF-8", std::nullopt, "Output", "Ceiling"},
    {"NoTableForAnyLanguage", "es:it", "C.UTF-8", std::nullopt, "Output", "Ceiling"},
    {"CLocale", "de", "C", std::nullopt, "Output", "Ceiling"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Lookup, testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
