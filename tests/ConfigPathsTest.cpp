#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"
#include "shared/TQZAppTool.h"
#include "shared/VolumeTable.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace plist = platform::plist;
using sonvela::test::TempHome;

namespace {

class ConfigPaths : public testing::Test {
protected:
    TempHome home;
    sonvela::test::MainBundle bundle{home.path() + "/Sonvela.app"};
    const std::string& app = bundle.path();
};

TEST_F(ConfigPaths, UserTableLiesInTheConfigFolder) {
    std::string fresh = home.path() + "/config";
    fs::perms configHomeBefore = fs::status(home.configHome()).permissions();
    struct {
        std::string xdgConfigHome;
        std::string expected;
    } cases[] = {
        {home.configHome(), home.configPlist()},
        {home.configHome() + "//", home.configPlist()},
        {"relative/config", home.path() + "/.config/Sonvela/config.plist"},
        {"", home.path() + "/.config/Sonvela/config.plist"},
        {fresh, fresh + "/Sonvela/config.plist"},
    };
    for (const auto& c : cases) {
        setenv("XDG_CONFIG_HOME", c.xdgConfigHome.c_str(), 1);
        EXPECT_EQ(AppUtil::getUserConfigFilePath(), c.expected) << c.xdgConfigHome;
        EXPECT_TRUE(fs::is_directory(fs::path(c.expected).parent_path())) << c.xdgConfigHome;
    }
    // Folders made for us are private; one that was there keeps its mode.
    for (const std::string& made : {home.configHome() + "/Sonvela", fresh, fresh + "/Sonvela"}) {
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << made;
    }
    EXPECT_EQ(fs::status(home.configHome()).permissions(), configHomeBefore);
    EXPECT_EQ(AppUtil::getDefaultConfigFilePath(), app + "/Resources/DefaultConfig.plist");
}

TEST_F(ConfigPaths, WhateverIsInPlaceIsNeverReplaced) {
    sonvela::test::writeAll(home.configHome() + "/Sonvela", "not a folder");
    EXPECT_EQ(AppUtil::getUserConfigFilePath(), home.configPlist());
    VolumeTable::ensureUserTable();
    EXPECT_EQ(sonvela::test::readAll(home.configHome() + "/Sonvela"), "not a folder");

    fs::remove(home.configHome() + "/Sonvela");
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    for (const char* content : {"", "junk"}) {
        sonvela::test::writeAll(home.configPlist(), content);
        VolumeTable::ensureUserTable();
        EXPECT_EQ(sonvela::test::readAll(home.configPlist()), content);
    }
}

TEST_F(ConfigPaths, TwoProcessesRacingTheFirstCopyLeaveOneWholeTable) {
    for (int round = 0; round < 20; ++round) {
        fs::remove_all(home.configHome() + "/Sonvela");
        std::vector<pid_t> children;
        for (int i = 0; i < 4; ++i) {
            pid_t pid = fork();
            if (pid == 0) {
                VolumeTable::ensureUserTable();
                _exit(0);
            }
            children.push_back(pid);
        }
        for (pid_t pid : children) {
            waitpid(pid, nullptr, 0);
        }
        EXPECT_EQ(sonvela::test::readAll(home.configPlist()),
                  sonvela::test::readAll(app + "/Resources/DefaultConfig.plist"));
        EXPECT_EQ(sonvela::test::listDir(home.configHome() + "/Sonvela").size(), 1u);
    }
}

TEST_F(ConfigPaths, StoringAVolumeKeepsEveryOtherEntry) {
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    plist::Dictionary table{
        {"hdpn", plist::Value(0.2)},
        {"custom", plist::Value(plist::Array{plist::Value("kept"), plist::Value(plist::Date{42})})},
        {"blob", plist::Value(plist::Data{{0, 1, 2}})}};
    ASSERT_TRUE(plist::writeXmlAtomically(home.configPlist(), table));

    struct {
        const char* type;
        float volume;
    } cases[] = {{"hdpn", 0.5f}, {"hdmi", 0.35f}, {"line", 0.0f}};
    for (const auto& c : cases) {
        ASSERT_TRUE(VolumeTable::storeVolume(home.configPlist(), c.type, c.volume));
        table[c.type] = plist::Value(c.volume);
        EXPECT_EQ(plist::readDictionary(home.configPlist()), table);
        EXPECT_EQ(VolumeTable::storedVolume(home.configPlist(), c.type), c.volume);
    }
}

TEST_F(ConfigPaths, AVolumeThatCannotBeWrittenLeavesTheTableWhole) {
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    ASSERT_TRUE(plist::writeXmlAtomically(home.configPlist(),
                                          plist::Dictionary{{"hdpn", plist::Value(0.2)}}));
    std::string before = sonvela::test::readAll(home.configPlist());

    EXPECT_FALSE(VolumeTable::storeVolume(home.configPlist(), std::string(4, '\0'), 0.5f));
    EXPECT_FALSE(VolumeTable::storeVolume(home.configPlist(), "\x01\x02zz", 0.5f));
    EXPECT_EQ(sonvela::test::readAll(home.configPlist()), before);
    EXPECT_EQ(sonvela::test::listDir(home.configHome() + "/Sonvela").size(), 1u);

    // No table yet: nothing is written, and nothing is created either.
    fs::remove(home.configPlist());
    EXPECT_FALSE(VolumeTable::storeVolume(home.configPlist(), "hdpn", 0.5f));
    EXPECT_FALSE(fs::exists(home.configPlist()));
}

TEST_F(ConfigPaths, BundleConfigIsReadAndChangedInPlace) {
    std::string config = app + "/Resources/Config.plist";
    EXPECT_EQ(TQZAppTool::getConfig("a"), std::nullopt);
    TQZAppTool::setConfig("a", plist::Value(1));
    EXPECT_FALSE(fs::exists(config));

    ASSERT_TRUE(plist::writeXmlAtomically(
        config, plist::Dictionary{{"a", plist::Value(1)}, {"b", plist::Value("x")}}));
    EXPECT_EQ(TQZAppTool::getConfig("b"), plist::Value("x"));
    EXPECT_EQ(TQZAppTool::getPlistValue("hdmi", "DefaultConfig"), plist::Value(0.75));
    TQZAppTool::setConfig("a", std::nullopt);
    TQZAppTool::setConfig("c", plist::Value(true));
    EXPECT_EQ(plist::readDictionary(config),
              (plist::Dictionary{{"b", plist::Value("x")}, {"c", plist::Value(true)}}));
}

} // namespace
