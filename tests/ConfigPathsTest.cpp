#include "shared/AppUtil.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace sonvela::test;

namespace {

TEST(ConfigPaths, TheTableLiesInPrivateFoldersMadeOnlyInsideTheConfigHome) {
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
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "relative", 1);
    EXPECT_EQ(AppUtil::getUserConfigFilePath(), std::nullopt); // never relative to where we run
}

} // namespace
