#include "platform/prefs/Preferences.h"
#include "platform/plist/PlistFile.h"
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
using namespace std::string_literals;

namespace {

const ScopeRef kUser = kCFPreferencesCurrentUser;

class Preferences : public testing::Test {
protected:
    void SetUp() override { overrideAnyUserFolderForTesting(system); }
    void TearDown() override { overrideAnyUserFolderForTesting(std::nullopt); }

    bool set(const std::string& key, std::optional<plist::Value> value, ScopeRef user = kUser) {
        return setValue(key, value, "org.example.app", user, kCFPreferencesAnyHost);
    }
    bool sync(ScopeRef user = kUser) {
        return synchronize("org.example.app", user, kCFPreferencesAnyHost);
    }
    bool store(const std::string& key, plist::Value value, ScopeRef user = kUser) {
        return set(key, value, user) && sync(user);
    }
    std::optional<plist::Value> load(const std::string& key) {
        return copyValue(key, "org.example.app", kUser, kCFPreferencesAnyHost);
    }

    TempHome home;
    std::string system = home.path() + "/etc-xdg";
    std::string folder = home.configHome() + "/sonvela-preferences";
    std::string userFile = folder + "/org.example.app.plist";
};

TEST_F(Preferences, EachScopeHasItsOwnFileThatKeepsOtherKeys) {
    ASSERT_TRUE(store("List", plist::Array{"mine"}));
    ASSERT_TRUE(store("List", plist::Array{"everybody's"}, kCFPreferencesAnyUser));
    EXPECT_EQ(plist::readDictionary(system + "/sonvela-preferences/org.example.app.plist"),
              (plist::Dictionary{{"List", plist::Array{"everybody's"}}}));
    EXPECT_EQ(load("List"), plist::Value(plist::Array{"mine"}));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

    ASSERT_TRUE(
        plist::writeXmlAtomically(userFile, plist::Dictionary{{"Other", 7}, {"Old", true}}));
    ASSERT_TRUE(store("New", "x"));
    ASSERT_TRUE(set("Old", std::nullopt));
    EXPECT_EQ(load("Old"), std::nullopt);
    ASSERT_TRUE(sync());
    EXPECT_EQ(plist::readDictionary(userFile), (plist::Dictionary{{"Other", 7}, {"New", "x"}}));
}

TEST_F(Preferences, AFailedSaveKeepsTheValueForTheProcessAndTriesAgain) {
    writeAll(folder, "a file where the folder goes");
    ASSERT_TRUE(set("Key", 1));
    EXPECT_FALSE(sync());
    EXPECT_EQ(load("Key"), plist::Value(1));
    fs::remove(folder);
    EXPECT_TRUE(sync());
    EXPECT_EQ(plist::readDictionary(userFile), (plist::Dictionary{{"Key", 1}}));
}

TEST_F(Preferences, RefusesWhatIsNotAScopeAFileNameOrAValueTheFileCanHold) {
    PreferencesScope lookalike{"kCFPreferencesCurrentUser"};
    const ScopeRef any = kCFPreferencesAnyHost;
    const std::tuple<std::string, ScopeRef, ScopeRef> cases[] = {
        {"app", &lookalike, any}, {"app", nullptr, any},      {"app", any, any},
        {"app", kUser, kUser},    {"app", kUser, &lookalike}, {"", kUser, any},
        {"../app", kUser, any},   {"..", kUser, any},         {"app\0x"s, kUser, any},
    };
    for (const auto& [application, user, host] : cases) {
        EXPECT_FALSE(setValue("Key", 1, application, user, host)) << application;
        EXPECT_FALSE(synchronize(application, user, host)) << application;
        EXPECT_EQ(copyValue("Key", application, user, host), std::nullopt);
    }
    for (const std::string& text : {"\xff"s, "a\x01"s, "nul\0inside"s}) {
        EXPECT_FALSE(set("Key", text));
        EXPECT_FALSE(set(text, 1));
    }
    EXPECT_TRUE(sync());
    EXPECT_TRUE(listDir(home.configHome()).empty());
}

TEST_F(Preferences, AnUnreadableFileIsMovedAsideNotOverwritten) {
    fs::create_directories(folder);
    const std::string broken[] = {"not a property list", "<plist><array/></plist>", ""};
    for (int i = 0; i < 3; ++i) {
        writeAll(userFile, broken[i]);
        EXPECT_EQ(load("Key"), std::nullopt);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(store("Key", i));
        std::string log = testing::internal::GetCapturedStderr();
        std::string aside = userFile + (i == 0 ? "" : "." + std::to_string(i)) + ".corrupt";
        EXPECT_EQ(readAll(aside), broken[i]);
        EXPECT_NE(log.find("moved it aside to " + aside), std::string::npos) << log;
        EXPECT_EQ(plist::readDictionary(userFile), (plist::Dictionary{{"Key", i}}));
    }
    // However many are there already, old ones never stop a save.
    for (int n = 3; n < 150; ++n) {
        writeAll(userFile + "." + std::to_string(n) + ".corrupt", "old");
    }
    writeAll(userFile, "broken again");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(store("Key", 150));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readAll(userFile + ".150.corrupt"), "broken again");
}

// Another program that takes no lock keeps swapping the file between a valid list and junk
// while we save: only ever the junk that was read may be moved aside, never a valid list.
TEST_F(Preferences, OnlyTheUnreadableFileThatWasReadIsMovedAside) {
    fs::create_directories(folder);
    const std::string valid = home.path() + "/valid", junk = home.path() + "/junk";
    const std::string next = home.path() + "/next";
    ASSERT_TRUE(plist::writeXmlAtomically(valid, plist::Dictionary{{"Theirs", 1}}));
    writeAll(junk, "junk");
    pid_t swapper = fork();
    for (unsigned i = 0; swapper == 0; ++i) {
        if (link((i % 2 ? junk : valid).c_str(), next.c_str()) == 0) {
            rename(next.c_str(), userFile.c_str());
        }
    }
    testing::internal::CaptureStderr();
    for (int i = 0; i < 200; ++i) {
        store("Mine", i); // may give up: it is a race
    }
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    testing::internal::GetCapturedStderr();
    int asides = 0;
    for (const std::string& name : listDir(folder)) {
        if (name.ends_with(".corrupt")) {
            ++asides;
            EXPECT_EQ(readAll(folder + "/" + name), "junk") << name;
        }
    }
    EXPECT_GT(asides, 0);
}

} // namespace
