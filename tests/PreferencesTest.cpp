#include "platform/prefs/Preferences.h"
#include "platform/loginwindow/AutostartEntry.h"
#include "platform/names/ProductNames.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistFile.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"
#include "shared/AppUtil.h"
#include "shared/CeilingTable.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace plist = platform::plist;
using namespace platform::prefs;
using namespace sonvela::test;

namespace {

// The platform layer names nothing of its own: a program that has not handed over its names
// gets no preferences file, no autostart entry and no launched-hidden request, never files
// straight in the config folder. (With the names, the other tests use all three.)
TEST(Preferences, WithoutTheProductsNamesThereIsNoFile) {
    TempHome home;
    setenv("SONVELA_LAUNCHED_HIDDEN", "1", 1);
    platform::setProductNames({});
    EXPECT_EQ(preferencesFile("org.example.app", kCFPreferencesCurrentUser), std::nullopt);
    EXPECT_EQ(platform::loginwindow::autostartEntryPath(kCFPreferencesCurrentUser), std::nullopt);
    EXPECT_FALSE(platform::process::launchedHidden());
}

TEST(Preferences, OnlyTheUnreadableFileThatWasReadIsMovedAside) {
    TempHome home;
    const std::string folder = home.configHome() + "/sonvela-preferences";
    const std::string file = folder + "/org.example.app.plist";
    std::string log;
    auto store = [&](int value) {
        testing::internal::CaptureStderr();
        bool stored =
            setValue("Mine", value, "org.example.app", kCFPreferencesCurrentUser,
                     kCFPreferencesAnyHost) &&
            synchronize("org.example.app", kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
        log = testing::internal::GetCapturedStderr();
        return stored;
    };
    makeDirs(folder);
    writeAll(file, "<plist><array/></plist>");
    ASSERT_TRUE(store(0));
    EXPECT_NE(log.find("moved it aside to " + file + ".corrupt"), std::string::npos) << log;
    EXPECT_EQ(readAll(file + ".corrupt"), "<plist><array/></plist>");
    fs::remove(file + ".corrupt");

    // Another program that takes no lock keeps swapping the file between a valid list and junk
    // while we save: only ever the junk that was read may be moved aside, never a valid list.
    const std::string valid = home.path() + "/valid", junk = home.path() + "/junk";
    const std::string next = home.path() + "/next";
    ASSERT_TRUE(plist::writeXmlAtomically(valid, plist::Dictionary{{"Theirs", 1}}));
    writeAll(junk, "junk");
    pid_t swapper = fork();
    for (unsigned i = 0; swapper == 0; ++i) {
        if (link((i % 2 ? junk : valid).c_str(), next.c_str()) == 0) {
            rename(next.c_str(), file.c_str());
        }
    }
    for (int i = 0; i < 200; ++i) {
        store(i); // may give up: it is a race
    }
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    int asides = 0;
    for (const std::string& name : listDir(folder)) {
        if (name.ends_with(".corrupt")) {
            ++asides;
            EXPECT_EQ(readAll(folder + "/" + name), "junk") << name;
        }
    }
    EXPECT_GT(asides, 0);

    // However many were moved aside before, old ones never stop a save.
    writeAll(file + ".corrupt", "old");
    for (int n = 1; n < 300; ++n) {
        writeAll(file + "." + std::to_string(n) + ".corrupt", "old");
    }
    writeAll(file, "broken again");
    EXPECT_TRUE(store(1));
    EXPECT_EQ(readAll(file + ".300.corrupt"), "broken again");
}

TEST(ConfigPaths, TheTablesLieInPrivateFoldersMadeOnlyInsideTheConfigHome) {
    TempHome home;
    const std::string fresh = home.path() + "/config", unmade = home.path() + "/missing/config";
    const fs::perms configHomeBefore = fs::status(home.configHome()).permissions();
    const std::pair<std::string, std::string> cases[] = {
        {home.configHome(), home.configPlist()},  {home.configHome() + "//", home.configPlist()},
        {"relative/config", home.configPlist()},  {"", home.configPlist()},
        {fresh, fresh + "/Sonvela/config.plist"}, {unmade, unmade + "/Sonvela/config.plist"},
    };
    for (const auto& [configHome, table] : cases) {
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        EXPECT_EQ(AppUtil::getUserConfigFilePath(), table) << configHome;
    }
    for (const std::string& made : {home.configHome() + "/Sonvela", fresh, fresh + "/Sonvela"}) {
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << made;
    }
    EXPECT_EQ(fs::status(home.configHome()).permissions(), configHomeBefore);
    EXPECT_FALSE(fs::exists(home.path() + "/missing"));

    // The ceilings are looked up without making a folder; the first one stored makes them.
    const std::string other = home.path() + "/other";
    setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    std::optional<std::string> ceilings = CeilingTable::getUserCeilingsFilePath();
    EXPECT_EQ(ceilings, other + "/Sonvela/ceilings.plist");
    EXPECT_EQ(CeilingTable::ceiling(ceilings, "hdpn"), std::nullopt);
    EXPECT_FALSE(fs::exists(other)) << "a look-up makes nothing";
    ASSERT_TRUE(CeilingTable::storeCeiling(ceilings, "hdpn", 0.5f));
    EXPECT_EQ(CeilingTable::ceiling(ceilings, "hdpn"), 0.5f);
    for (const std::string& made : {other, other + "/Sonvela"}) {
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << made;
    }

    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "relative", 1);
    EXPECT_EQ(AppUtil::getUserConfigFilePath(), std::nullopt); // never relative to where we run
}

// Another user who can write into a shared runtime folder must not be able to take our lock
// file's name first: only a folder of ours that nobody else may enter is used.
TEST(ConfigPaths, TheRuntimeFolderIsUsedOnlyWhenItIsOursAndPrivate) {
    TempHome home;
    const std::string runtime = home.path() + "/run";
    const std::pair<fs::perms, bool> cases[] = {
        {fs::perms::owner_all, true},
        {fs::perms::all | fs::perms::sticky_bit, false},
        {fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec, false},
    };
    for (const auto& [mode, used] : cases) {
        fs::permissions(runtime, mode);
        testing::internal::CaptureStderr();
        std::optional<std::string> found =
            platform::paths::runtimeDirectory(platform::paths::RuntimeFallback::None);
        std::optional<std::string> lock =
            platform::process::InstanceLock::pathFor("org.example.Program");
        std::string logged = testing::internal::GetCapturedStderr();
        EXPECT_EQ(found == runtime, used) << int(mode);
        EXPECT_EQ(lock == runtime + "/org.example.Program.lock", used) << int(mode);
        EXPECT_EQ(logged.find("is not a folder of ours with mode 0700") != std::string::npos,
                  !used && fs::perms(mode) == (fs::perms::all | fs::perms::sticky_bit))
            << "logged once: " << logged;
    }
    fs::permissions(runtime, fs::perms::owner_all);
}

} // namespace
