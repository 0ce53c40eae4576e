// The package as built by CPack, unpacked into a root of its own: what it holds, and its programs
// run from there; with SONVELA_PACKAGE_ROOT=/ the installed package (scripts/check-package).
#include "shared/LoginItemAPI.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/Eventually.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/SoundServer.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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

// The settings program has no command line: the accessibility harness clicks the login switch
// as a screen reader's user would.
TEST_F(FromTheRoot, TheLoginSwitchPointsTheAutostartEntryIntoTheRoot) {
    const char* path = std::getenv("PATH");
    const std::string log = home.path() + "/atspi.log";
    ChildProcess harness(
        {"/usr/bin/python3", SONVELA_SOURCE_DIR "/tests/support/atspi_dump.py", "--press",
         "Start Sonvela Helper when I log in", "--", kRoot + "/usr/bin/sonvela"},
        {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.configHome(),
         "XDG_RUNTIME_DIR=" + home.path() + "/run", "PULSE_SERVER=" + server.address(),
         std::string("PATH=") + (path ? path : "/usr/bin:/bin")},
        log);
    ASSERT_EQ(harness.waitForExit(std::chrono::seconds(90)), 0) << readAll(log);

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
