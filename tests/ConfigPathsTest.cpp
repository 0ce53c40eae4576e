#include "platform/bundle/Bundle.h"
#include "shared/AppUtil.h"
#include "shared/VolumeTable.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using platform::bundle::Bundle;
using namespace sonvela::test;

namespace {

class ConfigPaths : public testing::Test {
protected:
    TempHome home;
    MainBundle bundle{home.path() + "/Sonvela.app"};
};

TEST_F(ConfigPaths, TheTableLiesInPrivateFoldersMadeOnlyInsideTheConfigHome) {
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

TEST_F(ConfigPaths, TheDefaultTableGoesOnlyWhereNothingIsAndWhatIsThereStays) {
    const std::string table = home.configPlist(), elsewhere = home.path() + "/elsewhere.plist";
    writeAll(elsewhere, "<plist><dict><key>hdpn</key><real>0.5</real></dict></plist>");
    makeDirs(home.configHome() + "/Sonvela");
    const std::tuple<const char*, std::function<void()>, std::optional<float>> cases[] = {
        {"an empty file", [&] { writeAll(table, ""); }, std::nullopt},
        {"an array", [&] { writeAll(table, "<plist><array/></plist>"); }, std::nullopt},
        {"a folder", [&] { fs::create_directory(table); }, std::nullopt},
        {"a FIFO", [&] { mkfifo(table.c_str(), 0600); }, std::nullopt},
        {"a dangling link", [&] { fs::create_symlink("nowhere", table); }, std::nullopt},
        {"a link to a table", [&] { fs::create_symlink(elsewhere, table); }, 0.5f},
    };
    for (const auto& [what, make, volume] : cases) {
        fs::remove_all(table);
        make();
        struct stat before {};
        lstat(table.c_str(), &before);
        VolumeTable::ensureUserTable();
        struct stat after {};
        EXPECT_TRUE(lstat(table.c_str(), &after) == 0 && after.st_ino == before.st_ino) << what;
        EXPECT_EQ(VolumeTable::storedVolume(table, "hdpn"), volume) << what;
    }
    fs::remove_all(table);
    VolumeTable::ensureUserTable();
    EXPECT_EQ(readAll(table), readAll(bundle.defaultTable()));
    EXPECT_EQ(listDir(home.configHome() + "/Sonvela").size(), 1u);
}

TEST_F(ConfigPaths, StringsTablesGiveTheDefaultOrTheKeyForWhatTheyLack) {
    const std::string resources = bundle.path() + "/Resources/";
    writeAll(resources + "AudioDeviceName.strings",
             "<plist><dict><key>hdpn</key><string>Headphones</string></dict></plist>");
    writeAll(resources + "Localizable.strings",
             "<plist><dict><key>Sonvela</key><string>Sonvela Settings</string></dict></plist>");
    writeAll(resources + "Old.strings", "\"hdpn\" = \"x\";");
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"hdpn", "", "AudioDeviceName", "Headphones"},
        {"hdmi", "", "AudioDeviceName", "hdmi"},
        {"hdmi", "TV", "AudioDeviceName", "TV"},
        {"hdpn", "", "NoSuchTable", "hdpn"},
        {"hdpn", "", "Old", "hdpn"},
        {"Sonvela", "", "", "Sonvela Settings"},
        {"hdpn", "", "../Resources/AudioDeviceName", "hdpn"},
    };
    for (const auto& [key, value, table, expected] : cases) {
        EXPECT_EQ(Bundle::main().localizedString(key, value, table), expected) << table;
    }
}

} // namespace
