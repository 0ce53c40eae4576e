#include "platform/paths/SearchPath.h"
#include "platform/process/InstanceLock.h"
#include "shared/AppUtil.h"
#include "shared/CeilingTable.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace sonvela::test;

namespace {

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
