// The settings window as a screen reader meets it: the real program on Xvfb, read through the
// accessibility bus (tests/support/atspi_dump.py), against a private PulseAudio server.
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TempHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

using Table = platform::plist::Dictionary;
using Value = platform::plist::Value;

namespace {

// What the harness saw, one object per line in tree order: its dump, role, name, description
// and states.
std::vector<QJsonObject> readDump(const std::string& path) {
    std::vector<QJsonObject> seen;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('{')) { // not one of the harness's own complaints
            seen.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        }
    }
    return seen;
}

std::string text(const QJsonObject& object, const char* field) {
    return object[field].toString().toStdString();
}

class WindowAccessibility : public testing::Test {
protected:
    void TearDown() override { AppUtil::killApplicationByName("Sonvela Helper"); }

    // Runs Sonvela under the harness with its options (--press NAME, --language LANG) and
    // gives back what it saw; the test fails when the harness does.
    std::vector<QJsonObject> readWindow(const std::vector<std::string>& options) {
        std::string out = home.path() + "/atspi.log";
        std::vector<std::string> environment{"PULSE_SERVER=" + server.address(),
                                             "PATH=/usr/bin:/bin"};
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            environment.push_back(std::string(name) + "=" + std::getenv(name));
        }
        std::vector<std::string> argv{"/usr/bin/python3",
                                      SONVELA_SOURCE_DIR "/tests/support/atspi_dump.py"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"--", SONVELA_APP_DIR "/bin/Sonvela"});
        sonvela::test::ChildProcess harness(argv, environment, out);
        EXPECT_EQ(harness.waitForExit(std::chrono::seconds(90)), 0) << sonvela::test::readAll(out);
        return readDump(out);
    }

    sonvela::test::TempHome home;
    sonvela::test::PulseServer server{home.path() + "/server",
                                      {{"phones", "headphone", "Headphones"}}};
};

// In German: the program takes the user's language from the environment, for a screen reader
// too. Every language's texts are checked on the window itself (SettingsWindowTest).
TEST_F(WindowAccessibility, EveryControlHasItsOwnNameRoleAndStateInTheUsersLanguage) {
    server.start();
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    for (auto [name, volume] : {std::pair("config", 0.9), std::pair("ceilings", 0.6)}) {
        ASSERT_TRUE(platform::plist::writeXmlAtomically(
            home.configHome() + "/Sonvela/" + name + ".plist", Table{{"hdpn", Value(volume)}}));
    }
    std::vector<QJsonObject> seen = readWindow({"--language", "de", "--press", "Alle Ausgänge"});

    std::set<std::pair<int, std::string>> named;
    for (const QJsonObject& a : seen) {
        bool control = a["states"].toArray().contains("focusable") && text(a, "role") != "filler";
        EXPECT_TRUE(!control || !text(a, "name").empty()) << "a " << text(a, "role") << " unnamed";
        EXPECT_TRUE(!control || named.emplace(a["dump"].toInt(), text(a, "name")).second)
            << "two controls named " << text(a, "name");
    }
    // The object of that name in that dump; an empty one when there is none.
    auto at = [&](int dump, const std::string& name) {
        auto found = std::find_if(seen.begin(), seen.end(), [&](const QJsonObject& a) {
            return a["dump"].toInt() == dump && text(a, "name") == name;
        });
        return found == seen.end() ? QJsonObject() : *found;
    };

    // The fold button is a button that says whether the section is open.
    for (auto [dump, state, notState] :
         {std::tuple(0, "collapsed", "expanded"), std::tuple(1, "expanded", "collapsed")}) {
        QJsonObject fold = at(dump, "Alle Ausgänge");
        QJsonArray states = fold["states"].toArray();
        EXPECT_EQ(text(fold, "role"), "push button");
        EXPECT_TRUE(states.contains("expandable") && states.contains(state)) << dump;
        EXPECT_FALSE(states.contains(notState) || states.contains("checkable")) << dump;
    }
    // The ceiling holds the headphones at 60 %: said where the volume is.
    const std::string held = "Durch die Obergrenze bei 60 % gehalten";
    EXPECT_EQ(text(at(0, "Lautstärke dieses Ausgangs"), "description"), held);
    EXPECT_EQ(text(at(1, "Kopfhörer: Gespeicherte Lautstärke"), "description"), held);
    // Each row's three controls, named for the kind and what they set.
    for (std::string kind : {"Bluetooth", "Kopfhörer", "HDMI / Fernseher", "Anderer Ausgang"}) {
        EXPECT_EQ(text(at(1, kind + ": Gespeicherte Lautstärke"), "role"), "slider") << kind;
        EXPECT_EQ(text(at(1, kind + ": Gespeicherte Lautstärke in Prozent"), "role"), "spin button")
            << kind;
        EXPECT_EQ(text(at(1, kind + ": Obergrenze"), "role"), "spin button") << kind;
    }
    // The internal speakers keep their own volume: a ceiling is all there is to set.
    EXPECT_EQ(text(at(1, "Interne Lautsprecher: Obergrenze"), "role"), "spin button");
    EXPECT_TRUE(at(1, "Interne Lautsprecher: Gespeicherte Lautstärke").isEmpty());
}

} // namespace
