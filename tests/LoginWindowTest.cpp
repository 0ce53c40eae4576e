#include "platform/loginwindow/LoginWindow.h"
#include "platform/bundle/Bundle.h"
#include "platform/loginwindow/AutostartEntry.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
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
using platform::bundle::Bundle;
using Commands = std::vector<std::vector<std::string>>;

namespace {

const std::string kLoginWindow = SONVELA_APP_DIR "/bin/sonvela-loginwindow";
const ScopeRef user = kCFPreferencesCurrentUser;

// A desktop session of the test's own: its system folder stands in for /etc/xdg.
class LoginWindow : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_DIRS", system.c_str(), 1);
        overrideAnyUserFolderForTesting(system);
        Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    }

    std::size_t starts() { return startedPids(home.path()).size(); }
    std::vector<pid_t> helpers() { return processesNamed(home.path(), "Sonvela Helper"); }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string system = home.path() + "/etc-xdg";
    std::string userEntry = home.configHome() + "/autostart/sonvela-loginwindow.desktop";
    std::string systemEntry = system + "/autostart/sonvela-loginwindow.desktop";
    std::string helper = SONVELA_APP_DIR "/Resources/Sonvela Helper.app";
    std::string standIn = makeBundle(home.path(), "Stand In", "", "Stand In", kStandInProgram);
};

// Sonvela may lie in any folder; the sessions' own parsers must start the login window from
// there: systemd's autostart generator (GNOME, KDE Plasma and others) and GLib.
TEST_F(LoginWindow, EverySessionStartsTheLoginWindowWhereverSonvelaLies) {
    std::string link = home.path() + "/.local/share/sonvela/sonvela-loginwindow";
    mode_t umaskBefore = umask(0);
    int asTheyAre = 2; // the sessions take the first paths as they are; the others get a link
    unsigned char hide = 0;
    for (std::string folder : {"My Apps (old); & <more>", "Mélangeur Ünïcode", "Bob's \"Apps\"",
                               "100% loud", "back\\slash", "$HOME and `id`", "new\nline"}) {
        bool linked = asTheyAre-- <= 0;
        std::string bundle = home.path() + "/" + folder + "/Sonvela.app";
        makeDirs(bundle + "/bin");
        fs::create_symlink(kLoginWindow, bundle + "/bin/sonvela-loginwindow");
        Bundle::overrideMainForTesting(bundle);
        hide = !hide;
        ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, standIn.c_str(), hide));
        EXPECT_EQ(fs::is_symlink(link), linked) << folder;

        EXPECT_EQ(DesktopSession::systemdUnitsThatPass(), 1) << folder;
        EXPECT_TRUE(DesktopSession::launchWithGLib(userEntry)) << folder;
        ASSERT_TRUE(eventually([&] { return starts() == 1; })) << folder;
        // A hidden item is asked to start hidden.
        std::string environment =
            readAll("/proc/" + std::to_string(startedPids(home.path())[0]) + "/environ");
        EXPECT_EQ(environment.find(hide ? std::string("\0SONVELA_LAUNCHED_HIDDEN=1\0", 27)
                                        : "SONVELA_LAUNCHED_HIDDEN") != std::string::npos,
                  hide == 1)
            << folder;
        strays.killAll();
        fs::remove(home.path() + "/started");
        // Once Sonvela is moved away, its entry starts nothing.
        EXPECT_EQ(DesktopSession::autostartCommands(),
                  Commands{{linked ? link : bundle + "/bin/sonvela-loginwindow"}})
            << folder;
        fs::rename(bundle, bundle + ".moved");
        EXPECT_EQ(DesktopSession::autostartCommands(), Commands{}) << folder;
        fs::rename(bundle + ".moved", bundle);

        ASSERT_TRUE(RemoveLoginItemAtIndex(user, 0));
        EXPECT_FALSE(fs::exists(userEntry) || fs::is_symlink(link)) << folder;
    }
    umask(umaskBefore);
    // An entry there runs at the user's login: nobody else may put one in.
    for (const std::string& folder : {home.configHome() + "/autostart", home.path() + "/.local"}) {
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    }

    // Where the link would be refused as well, the entry names the login window all the same.
    setenv("XDG_DATA_HOME", (home.path() + "/50% data").c_str(), 1);
    Bundle::overrideMainForTesting(home.path() + "/100% loud/Sonvela.app");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, standIn.c_str(), 0));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no link to it could be made"),
              std::string::npos);
    EXPECT_NE(readAll(userEntry).find("100%%"), std::string::npos);
}

// In the test's own process, where the any-user folder can be moved out of /etc/xdg.
TEST_F(LoginWindow, EachListHasItsEntryAndBothAreStartedEachPathOnce) {
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, standIn.c_str(), 0));
    EXPECT_EQ(readAll(userEntry), autostartEntryText(kLoginWindow));
    EXPECT_FALSE(fs::exists(systemEntry));
    // A line break would let a path add lines of its own to the entry.
    for (const char* refused : {"/bad\nline", "/bad\xff"}) {
        EXPECT_EQ(autostartEntryText(refused), std::nullopt);
    }
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, standIn.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, helper.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, "/nowhere/X.app", 0));
    EXPECT_EQ(launchLoginItems(), 1); // /nowhere/X.app
    EXPECT_TRUE(eventually([&] { return helpers().size() == 1 && starts() == 1; }));
    // The user's entry hides the system one of the same name: the login window runs once.
    EXPECT_TRUE(fs::exists(userEntry) && fs::exists(systemEntry));
    EXPECT_EQ(DesktopSession::autostartCommands().size(), 1u);

    // An entry stays while its list has items.
    ASSERT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesAnyUser, 0));
    ASSERT_TRUE(RemoveLoginItemAtIndex(user, 0));
    EXPECT_FALSE(fs::exists(userEntry));
    EXPECT_TRUE(fs::exists(systemEntry));
}

} // namespace
