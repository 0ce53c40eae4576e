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
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

using Table = platform::plist::Dictionary;
using Value = platform::plist::Value;

namespace {

struct Accessible {
    int dump;
    std::string role;
    std::string name;
    std::string description;
    std::set<std::string> states;
};

// What the harness saw, dump by dump, in tree order.
std::vector<Accessible> readDump(const std::string& path) {
    std::vector<Accessible> seen;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] != '{') {
            continue; // the harness's own complaints
        }
        QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        Accessible accessible{object["dump"].toInt(),
                              object["role"].toString().toStdString(),
                              object["name"].toString().toStdString(),
                              object["description"].toString().toStdString(),
                              {}};
        for (const auto& state : object["states"].toArray()) {
            accessible.states.insert(state.toString().toStdString());
        }
        seen.push_back(accessible);
    }
    return seen;
}

// The object of that name in that dump, or one with the role "missing".
Accessible find(const std::vector<Accessible>& seen, int dump, const std::string& name) {
    for (const Accessible& a : seen) {
        if (a.dump == dump && a.name == name) {
            return a;
        }
    }
    return Accessible{dump, "missing", name, "", {}};
}

class WindowAccessibility : public testing::Test {
protected:
    void TearDown() override { AppUtil::killApplicationByName("Sonvela Helper"); }

    // Runs Sonvela under the harness with its options (--press NAME, --language LANG) and
    // gives back what it saw; the test fails when the harness does.
    std::vector<Accessible> readWindow(const std::vector<std::string>& options) {
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
    void writeTable(const std::string& name, const Table& table) {
        sonvela::test::makeDirs(home.configHome() + "/Sonvela");
        ASSERT_TRUE(platform::plist::writeXmlAtomically(
            home.configHome() + "/Sonvela/" + name + ".plist", table));
    }

    sonvela::test::TempHome home;
    sonvela::test::PulseServer server{home.path() + "/server",
                                      {{"phones", "headphone", "Headphones"}}};
};

TEST_F(WindowAccessibility, EveryControlHasItsOwnNameRoleAndState) {
    server.start();
    writeTable("config", {{"hdpn", Value(0.9)}});
    writeTable("ceilings", {{"hdpn", Value(0.6)}});
    std::vector<Accessible> seen = readWindow({"--press", "All outputs"});

    std::set<std::pair<int, std::string>> named;
    for (const Accessible& a : seen) {
        bool control = a.states.count("focusable") && a.role != "filler";
        EXPECT_TRUE(!control || !a.name.empty()) << "a " << a.role << " without a name";
        EXPECT_TRUE(!control || named.emplace(a.dump, a.name).second)
            << "two controls named " << a.name;
    }
    auto at = [&](int dump, const std::string& name) { return find(seen, dump, name); };

    // The fold button is a button that says whether the section is open.
    for (auto [dump, state, notState] :
         {std::tuple(0, "collapsed", "expanded"), std::tuple(1, "expanded", "collapsed")}) {
        Accessible fold = at(dump, "All outputs");
        EXPECT_EQ(fold.role, "push button");
        EXPECT_TRUE(fold.states.count("expandable") && fold.states.count(state)) << dump;
        EXPECT_FALSE(fold.states.count(notState) || fold.states.count("checkable")) << dump;
    }
    // The ceiling holds the headphones at 60 %: said where the volume is.
    EXPECT_EQ(at(0, "Volume of this output").description, "Held at 60 % by its ceiling");
    EXPECT_EQ(at(1, "Headphones: Stored volume").description, "Held at 60 % by its ceiling");
    // Each row's three controls, named for the kind and what they set.
    for (const char* kind : {"Bluetooth", "Headphones", "HDMI / TV", "Other Output"}) {
        std::string name(kind);
        EXPECT_EQ(at(1, name + ": Stored volume").role, "slider") << kind;
        EXPECT_EQ(at(1, name + ": Stored volume in percent").role, "spin button") << kind;
        EXPECT_EQ(at(1, name + ": Ceiling").role, "spin button") << kind;
    }
    EXPECT_EQ(at(1, "Internal Speakers: Ceiling").role, "spin button");
    EXPECT_EQ(at(1, "Internal Speakers: Stored volume").role, "missing");
}

// The program takes the user's language from the environment, for a screen reader too; every
// language's texts are checked on the window itself (WindowLanguageTest).
TEST_F(WindowAccessibility, AGermanUserHearsTheWindowInGerman) {
    server.start();
    writeTable("config", {{"hdpn", Value(0.9)}});
    writeTable("ceilings", {{"hdpn", Value(0.6)}});
    std::vector<Accessible> seen = readWindow({"--language", "de", "--press", "Alle Ausgänge"});
    EXPECT_EQ(find(seen, 0, "Alle Ausgänge").role, "push button");
    Accessible row = find(seen, 1, "Kopfhörer: Gespeicherte Lautstärke");
    EXPECT_EQ(row.role, "slider");
    EXPECT_EQ(row.description, "Durch die Obergrenze bei 60 % gehalten");
    for (const Accessible& a : seen) {
        EXPECT_TRUE(a.name != "All outputs" && a.name.find(": Stored volume") == std::string::npos)
            << a.name;
    }
}

} // namespace
