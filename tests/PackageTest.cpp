// The package as built by CPack, unpacked into a root of its own: what it holds, and its programs
// run from there; with SONVELA_PACKAGE_ROOT=/ the installed package (scripts/check-package).
#include "platform/plist/PlistFile.h"
#include "shared/LoginItemAPI.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/Eventually.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/SoundServer.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace sonvela::test;

namespace {

// Not there yet while ctest lists the tests, before the package is built.
std::string packageRoot() {
    const char* chosen = std::getenv("SONVELA_PACKAGE_ROOT");
    std::error_code ignored;
    std::string root = fs::weakly_canonical(chosen ? chosen : SONVELA_PACKAGE_ROOT, ignored);
    return root == "/" ? "" : root;
}

const std::string kRoot = packageRoot();
const std::string kApp = kRoot + "/usr/lib/sonvela/Sonvela.app";
const std::string kHelperApp = kApp + "/Resources/Sonvela Helper.app";

const SinkSpec kSpeakers{"speakers", "internal", "Speakers"};
const SinkSpec kHeadphones{"headphones", "headphone", "Headphones"};

TEST(Package, HoldsEveryFile) {
    const std::string res = kApp + "/Resources/", share = kRoot + "/usr/share/";
    const std::vector<std::string> programs = {
        kRoot + "/usr/bin/sonvela", kApp + "/bin/Sonvela", kApp + "/bin/sonvela-loginwindow",
        res + "getApplicationPid.sh", kHelperApp + "/bin/Sonvela Helper"};
    std::vector<std::string> files = programs;
    auto in = [&](const std::string& folder, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            files.push_back(folder + name);
        }
    };
    in(kApp, {"/Info.plist", "/Resources/Sonvela Helper.app/Info.plist",
              "/Resources/Sonvela Helper.app/Resources/DefaultConfig.plist"});
    in(res, {"DefaultConfig.plist", "Localizable.strings", "AudioDeviceName.strings",
             "AudioDeviceIcon.strings", "sonvela.icns", "headphones.png"});
    for (const char* language : {"", "de.lproj/", "fr.lproj/"}) {
        in(kHelperApp + "/Resources/" + language, {"Localizable.strings"});
        if (*language != '\0') {
            in(res + language, {"Localizable.strings", "AudioDeviceName.strings", "Sonvela.qm"});
        }
    }
    in(share, {"applications/org.sonvela.Sonvela.desktop", "man/man1/sonvela.1.gz",
               "metainfo/org.sonvela.Sonvela.metainfo.xml", "doc/sonvela/copyright",
               "doc/sonvela/changelog.gz"});
    for (const char* size : {"48x48", "64x64", "128x128", "256x256", "512x512"}) {
        in(share + "icons/hicolor/" + size, {"/apps/org.sonvela.Sonvela.png"});
    }
    for (const std::string& file : files) {
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
        bool program = std::find(programs.begin(), programs.end(), file) != programs.end();
        EXPECT_EQ(::access(file.c_str(), X_OK) == 0, program) << file;
    }
    // Only what a user runs: not the build's screenshot program.
    EXPECT_EQ(listDir(kApp + "/bin").size(), 2u);
}

// A private server, and a temporary home for what the unpacked programs write.
class FromTheRoot : public testing::Test {
protected:
    void SetUp() override { server.start(); }

    TempHome home;
    StrayProcesses strays{home.path()};
    PulseServer server{home.path() + "/server", {kSpeakers, kHeadphones}};
};

TEST_F(FromTheRoot, TheHelperRestoresASwitch) {
    HelperProcess helper(kHelperApp + "/bin/Sonvela Helper", home.path(), server.address());
    ASSERT_TRUE(eventually([&] { return helper.restores().size() == 1; })) << helper.log();

    server.switchDefault(kHeadphones.name);
    // The table it restores from is the default one that ships in the root's helper bundle.
    ASSERT_TRUE(eventually([&] { return helper.restores().size() == 2; })) << helper.log();
    EXPECT_EQ(helper.restores().back(), "hdpn 0.350000");
    EXPECT_EQ(readAll(home.configPlist()), readAll(kHelperApp + "/Resources/DefaultConfig.plist"));
}

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

// The settings program as a German user of a screen reader meets it: run from the root on Xvfb
// under tests/support/atspi_dump.py, which reads it through the accessibility bus once it shows
// (dump 0), after a press on "All outputs" (1) and after one on the login switch (2). The
// headphones' stored volume is held by a ceiling.
class ScreenReader : public FromTheRoot {
protected:
    void SetUp() override {
        FromTheRoot::SetUp();
        server.switchDefault(kHeadphones.name);
        makeDirs(home.configHome() + "/Sonvela");
        for (auto [name, volume] : {std::pair("config", 0.9), std::pair("ceilings", 0.6)}) {
            ASSERT_TRUE(platform::plist::writeXmlAtomically(
                home.configHome() + "/Sonvela/" + name + ".plist",
                platform::plist::Dictionary{{"hdpn", platform::plist::Value(volume)}}));
        }
        const char* path = std::getenv("PATH");
        const std::string log = home.path() + "/atspi.log";
        ChildProcess harness(
            {"/usr/bin/python3", SONVELA_SOURCE_DIR "/tests/support/atspi_dump.py", "--language",
             "de", "--press", "Alle Ausgänge", "--press",
             "Sonvela Helper bei der Anmeldung starten", "--", kRoot + "/usr/bin/sonvela"},
            {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.configHome(),
             "XDG_RUNTIME_DIR=" + home.path() + "/run", "PULSE_SERVER=" + server.address(),
             std::string("PATH=") + (path ? path : "/usr/bin:/bin")},
            log);
        ASSERT_EQ(harness.waitForExit(std::chrono::seconds(90)), 0) << readAll(log);
        seen = readDump(log);
    }
    // The object of that name in that dump; an empty one when there is none.
    QJsonObject at(int dump, const std::string& name) {
        auto found = std::find_if(seen.begin(), seen.end(), [&](const QJsonObject& a) {
            return a["dump"].toInt() == dump && text(a, "name") == name;
        });
        return found == seen.end() ? QJsonObject() : *found;
    }

    std::vector<QJsonObject> seen;
};

// The program takes the user's language from the environment, for a screen reader too. Every
// language's texts are checked on the window itself (SettingsWindowTest), the English names of
// the controls too (in tab order).
TEST_F(ScreenReader, EveryControlHasItsOwnNameRoleAndStateInTheUsersLanguage) {
    std::set<std::pair<int, std::string>> named;
    for (const QJsonObject& a : seen) {
        bool control = a["states"].toArray().contains("focusable") && text(a, "role") != "filler";
        EXPECT_TRUE(!control || !text(a, "name").empty()) << "a " << text(a, "role") << " unnamed";
        EXPECT_TRUE(!control || named.emplace(a["dump"].toInt(), text(a, "name")).second)
            << "two controls named " << text(a, "name");
    }
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

TEST_F(ScreenReader, TheLoginSwitchPointsTheAutostartEntryIntoTheRoot) {
    EXPECT_TRUE(
        at(2, "Sonvela Helper bei der Anmeldung starten")["states"].toArray().contains("checked"));
    const std::string loginWindow = kApp + "/bin/sonvela-loginwindow";
    std::string entry = readAll(home.configHome() + "/autostart/sonvela-loginwindow.desktop");
    auto commands = DesktopSession::autostartCommands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), std::vector<std::string>{loginWindow}),
              commands.end())
        << entry;
    EXPECT_NE(entry.find("\nTryExec=" + loginWindow + "\n"), std::string::npos) << entry;
    const char* item = ReturnLoginItemPropertyAtIndex(platform::prefs::kCFPreferencesCurrentUser,
                                                      kLoginItemFullPath, 0);
    EXPECT_EQ(std::string(item ? item : ""), kHelperApp);
}

} // namespace
