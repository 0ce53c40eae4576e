#include "platform/plist/PlistFile.h"
#include "tests/support/TempHome.h"

#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <filesystem>

using sonvela::test::readAll;

namespace {

std::vector<std::string> languages() {
    std::vector<std::string> list;
    for (const QString& name : QString(SONVELA_LANGUAGES).split(',')) {
        list.push_back(name.toStdString());
    }
    return list;
}

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
    for (const std::string& language : languages()) {
        std::string path = resources + "/" + language + ".lproj/" + c.table + ".strings";
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
    for (const std::string& language : languages()) {
        std::string ts = home.path() + "/" + language + ".ts";
        std::filesystem::copy_file(
            SONVELA_SOURCE_DIR "/resources/Sonvela/" + language + ".lproj/Sonvela.ts", ts);
        QProcess lupdate;
        lupdate.start(SONVELA_LUPDATE,
                      {"-no-obsolete", "-locations", "none", "-silent", "-extensions", "cpp,h,ui",
                       SONVELA_SOURCE_DIR "/app", "-ts", QString::fromStdString(ts)});
        ASSERT_TRUE(lupdate.waitForFinished(60000));
        ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
        EXPECT_EQ(untranslated(ts), std::vector<std::string>()) << language;
        EXPECT_TRUE(std::filesystem::exists(SONVELA_APP_DIR "/Resources/" + language +
                                            ".lproj/Sonvela.qm"));
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
    for (const QString& language : QString(SONVELA_LANGUAGES).split(',')) {
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

} // namespace
