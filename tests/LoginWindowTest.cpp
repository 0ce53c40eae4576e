#include "platform/loginwindow/LoginWindow.h"
#include "platform/bundle/Bundle.h"
#include "platform/loginwindow/AutostartEntry.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
#include "shared/TQZAppTool.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/Eventually.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"
#include "tests/support/TestBundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace platform::prefs;
using namespace platform::loginwindow;
using namespace sonvela::test;

namespace {

const std::string kLoginWindow = SONVELA_APP_DIR "/bin/sonvela-loginwindow";

// A desktop session of the test's own: its system folder stands in for /etc/xdg.
class LoginWindow : public testing::Test {
protected:
    void SetUp() override {
        const char* dirs = std::getenv("XDG_CONFIG_DIRS");
        savedConfigDirs = dirs ? std::optional<std::string>(dirs) : std::nullopt;
        setenv("XDG_CONFIG_DIRS", system.c_str(), 1);
        overrideAnyUserFolderForTesting(system);
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    }
    void TearDown() override {
        if (savedConfigDirs) {
            setenv("XDG_CONFIG_DIRS", savedConfigDirs->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_DIRS");
        }
        overrideAnyUserFolderForTesting(std::nullopt);
        platform::bundle::Bundle::overrideMainForTesting(std::nullopt);
    }

    std::size_t starts() { return startedPids(home.path()).size(); }
    std::vector<pid_t> helpers() { return processesNamed(home.path(), "Sonvela Helper"); }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string system = home.path() + "/etc-xdg";
    std::string userEntry = home.configHome() + "/autostart/sonvela-loginwindow.desktop";
    std::string systemEntry = system + "/autostart/sonvela-loginwindow.desktop";
    std::string helper = SONVELA_APP_DIR "/Resources/Sonvela Helper.app";
    std::optional<std::string> savedConfigDirs;
};

TEST_F(LoginWindow, TheAutostartEntryFollowsTheList) {
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, "/A.app", 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, "/B.app", 0));
    EXPECT_EQ(readAll(userEntry), autostartEntryText(kLoginWindow));
    EXPECT_FALSE(fs::exists(systemEntry));
    ASSERT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesCurrentUser, 0));
    EXPECT_TRUE(fs::exists(userEntry));
    ASSERT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesCurrentUser, 0));
    EXPECT_FALSE(fs::exists(userEntry));

    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, "/A.app", 0));
    EXPECT_TRUE(fs::exists(systemEntry));
    EXPECT_FALSE(fs::exists(userEntry));
}

// Sonvela may lie in any folder; the sessions' own parsers must start the login window from
// there: systemd's autostart generator (GNOME, KDE Plasma and others) and GLib.
TEST_F(LoginWindow, EverySessionStartsTheLoginWindowWhereverSonvelaLies) {
    std::string standIn = makeBundle(home.path(), "Stand In", "", "Stand In", kStandInProgram);
    std::string link = home.path() + "/.local/share/sonvela/sonvela-loginwindow";
    struct {
        std::string folder;
        bool linked;
    } cases[] = {
        {"Apps", false},
        {"My Apps (old); & <more>", false},
        {"Mélangeur Ünïcode", false},
        {"Bob's \"Apps\"", true},
        {"100% loud", true},
        {"back\\slash", true},
        {"$HOME and `id`", true},
        {"new\nline", true},
    };
    mode_t umaskBefore = umask(0);
    for (const auto& c : cases) {
        std::string bundle = home.path() + "/" + c.folder + "/Sonvela.app";
        makeDirs(bundle + "/bin");
        fs::create_symlink(kLoginWindow, bundle + "/bin/sonvela-loginwindow");
        platform::bundle::Bundle::overrideMainForTesting(bundle);
        ASSERT_TRUE(
            AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, standIn.c_str(), 0));
        EXPECT_EQ(fs::is_symlink(link), c.linked) << c.folder;

        std::string units = home.path() + "/units";
        fs::remove_all(units);
        makeDirs(units);
        DesktopSession::SystemdUnits systemd = DesktopSession::systemdUnits(units);
        EXPECT_EQ(systemd.startable.size(), 1u) << c.folder << "\n" << systemd.complaints;
        EXPECT_TRUE(DesktopSession::launchWithGLib(userEntry)) << c.folder;
        EXPECT_TRUE(eventually([&] { return starts() == 1; })) << c.folder;
        strays.killAll();
        fs::remove(home.path() + "/started");

        ASSERT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesCurrentUser, 0));
        EXPECT_FALSE(fs::exists(userEntry) || fs::is_symlink(link)) << c.folder;
    }
    umask(umaskBefore);
    // An entry there runs at the user's login: nobody else may put one in.
    for (const std::string& folder : {home.configHome() + "/autostart", home.path() + "/.local"}) {
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    }

    // Where the link would be refused as well, the entry names the login window all the same.
    setenv("XDG_DATA_HOME", (home.path() + "/50% data").c_str(), 1);
    platform::bundle::Bundle::overrideMainForTesting(home.path() + "/100% loud/Sonvela.app");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, standIn.c_str(), 0));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no link to it could be made"),
              std::string::npos);
    EXPECT_NE(readAll(userEntry).find("100%%"), std::string::npos);

    EXPECT_NE(autostartEntryText("/usr/bin/x")->find("Exec=\"/usr/bin/x\"\nTryExec=/usr/bin/x\n"),
              std::string::npos);
    for (const char* refused : {"/bad\nline", "/bad\xff"}) {
        EXPECT_EQ(autostartEntryText(refused), std::nullopt);
    }
}

TEST_F(LoginWindow, AtLoginTheHelperStartsAndOnceRemovedItDoesNot) {
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, helper.c_str(), 0));
    DesktopSession session("GNOME");
    EXPECT_EQ(session.autostartCommands(), (std::vector<std::vector<std::string>>{{kLoginWindow}}));
    session.logIn();
    ASSERT_TRUE(eventually([&] { return helpers().size() == 1; }));
    EXPECT_TRUE(AppUtil::applicationIsLoginItem("Sonvela Helper.app"));
    std::string environment = readAll("/proc/" + std::to_string(helpers()[0]) + "/environ");
    EXPECT_EQ(environment.find("SONVELA_LAUNCHED_HIDDEN"), std::string::npos);
    strays.killAll();

    std::int32_t index = AppUtil::getLoginItemIndexByApplicationName("Sonvela Helper.app");
    ASSERT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesCurrentUser, index));
    EXPECT_TRUE(session.autostartCommands().empty());
    session.logIn();
    EXPECT_TRUE(helpers().empty());
}

TEST_F(LoginWindow, AHiddenItemIsAskedToStartHidden) {
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, helper.c_str(), 1));
    DesktopSession("KDE").logIn();
    ASSERT_TRUE(eventually([&] { return helpers().size() == 1; }));
    std::string environment = readAll("/proc/" + std::to_string(helpers()[0]) + "/environ");
    EXPECT_NE(environment.find(std::string("\0SONVELA_LAUNCHED_HIDDEN=1\0", 27)),
              std::string::npos);
}

// In the test's own process, where the any-user folder can be moved out of /etc/xdg.
TEST_F(LoginWindow, BothListsAreStartedAndEachPathOnce) {
    std::string standIn = makeBundle(home.path(), "Stand In", "", "Stand In", kStandInProgram);
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, standIn.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, standIn.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, helper.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, "/nowhere/X.app", 0));
    testing::internal::CaptureStderr();
    EXPECT_EQ(launchLoginItems(), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot launch /nowhere/X.app"),
              std::string::npos);
    EXPECT_TRUE(eventually([&] { return helpers().size() == 1 && starts() == 1; }));
    // The user's entry hides the system one of the same name: the login window runs once.
    EXPECT_TRUE(fs::exists(userEntry) && fs::exists(systemEntry));
    EXPECT_EQ(DesktopSession("GNOME").autostartCommands().size(), 1u);
}

TEST_F(LoginWindow, TheSessionsRulesDecideWhetherTheLoginWindowRuns) {
    std::string standIn = makeBundle(home.path(), "Stand In", "", "Stand In", kStandInProgram);
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesCurrentUser, standIn.c_str(), 0));
    std::string entry = readAll(userEntry);
    struct {
        std::string userEntry;
        std::string systemEntry;
        bool runs;
    } cases[] = {
        {entry, "", true},
        {entry + "Hidden=true\n", "", false},
        {entry + "Hidden=false\n", "", true},
        {entry + "X-GNOME-Autostart-enabled=false\n", "", false},
        {entry + "OnlyShowIn=KDE;\n", "", false},
        {entry + "OnlyShowIn=XFCE;GNOME;\n", "", true},
        {entry + "NotShowIn=GNOME;\n", "", false},
        {"[Desktop Entry]\nType=Application\nExec=" + kLoginWindow + "\nTryExec=/nowhere\n", "",
         false},
        {"", entry, true},
        {"[Desktop Entry]\nHidden=true\n", entry, false},
        {"", "", false},
    };
    makeDirs(home.configHome() + "/autostart");
    makeDirs(system + "/autostart");
    for (const auto& c : cases) {
        fs::remove(home.path() + "/started");
        for (auto [path, text] :
             {std::pair{userEntry, c.userEntry}, {systemEntry, c.systemEntry}}) {
            fs::remove(path);
            if (!text.empty()) {
                writeAll(path, text);
            }
        }
        DesktopSession("ubuntu:GNOME").logIn();
        if (c.runs) {
            EXPECT_TRUE(eventually([&] { return starts() == 1; })) << c.userEntry;
        } else {
            EXPECT_EQ(starts(), 0u) << c.userEntry;
        }
        strays.killAll();
    }
}

} // namespace
