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
using sonvela::test::readAll;
using sonvela::test::TempHome;
using sonvela::test::writeAll;

namespace {

class Preferences : public testing::Test {
protected:
    void SetUp() override { overrideAnyUserFolderForTesting(system); }
    void TearDown() override { overrideAnyUserFolderForTesting(std::nullopt); }

    bool store(const std::string& key, const plist::Value& value, ScopeRef user) {
        return setValue(key, value, "org.example.app", user, kCFPreferencesAnyHost) &&
               synchronize("org.example.app", user, kCFPreferencesAnyHost);
    }
    std::optional<plist::Value> load(const std::string& key, ScopeRef user) {
        return copyValue(key, "org.example.app", user, kCFPreferencesAnyHost);
    }

    TempHome home;
    std::string system = home.path() + "/etc-xdg";
    std::string userFile = home.configHome() + "/sonvela-preferences/org.example.app.plist";
    std::string systemFile = system + "/sonvela-preferences/org.example.app.plist";
};

TEST_F(Preferences, EachScopeHasItsOwnFile) {
    EXPECT_EQ(preferencesFile("org.example.app", kCFPreferencesCurrentUser), userFile);
    EXPECT_EQ(preferencesFile("org.example.app", kCFPreferencesAnyUser), systemFile);

    ASSERT_TRUE(store("List", plist::Array{"mine"}, kCFPreferencesCurrentUser));
    ASSERT_TRUE(store("List", plist::Array{"everybody's"}, kCFPreferencesAnyUser));
    EXPECT_EQ(plist::readDictionary(userFile), (plist::Dictionary{{"List", plist::Array{"mine"}}}));
    EXPECT_EQ(plist::readDictionary(systemFile),
              (plist::Dictionary{{"List", plist::Array{"everybody's"}}}));
    EXPECT_EQ(load("List", kCFPreferencesCurrentUser), plist::Value(plist::Array{"mine"}));
    EXPECT_EQ(fs::status(home.configHome() + "/sonvela-preferences").permissions() & fs::perms::all,
              fs::perms::owner_all);
}

TEST_F(Preferences, RefusesWhatIsNotAScopeOrAFileName) {
    PreferencesScope lookalike{"kCFPreferencesCurrentUser"};
    struct {
        std::string application;
        ScopeRef user;
        ScopeRef host;
    } cases[] = {
        {"app", &lookalike, kCFPreferencesAnyHost},
        {"app", nullptr, kCFPreferencesAnyHost},
        {"app", kCFPreferencesAnyHost, kCFPreferencesAnyHost},
        {"app", kCFPreferencesCurrentUser, kCFPreferencesCurrentUser},
        {"app", kCFPreferencesCurrentUser, &lookalike},
        {"", kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
        {"../app", kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
        {"..", kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
        {std::string("app\0x", 5), kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(setValue("Key", plist::Value(1), c.application, c.user, c.host))
            << c.application;
        EXPECT_FALSE(synchronize(c.application, c.user, c.host)) << c.application;
        EXPECT_EQ(copyValue("Key", c.application, c.user, c.host), std::nullopt);
    }
    EXPECT_TRUE(sonvela::test::listDir(home.configHome()).empty());
}

TEST_F(Preferences, KeepsOtherKeysAndRemovesOnRequest) {
    fs::create_directories(fs::path(userFile).parent_path());
    ASSERT_TRUE(plist::writeXmlAtomically(
        userFile, plist::Dictionary{{"Other", plist::Value(7)}, {"Old", plist::Value(true)}}));
    ASSERT_TRUE(store("New", plist::Value("x"), kCFPreferencesCurrentUser));
    ASSERT_TRUE(setValue("Old", std::nullopt, "org.example.app", kCFPreferencesCurrentUser,
                         kCFPreferencesAnyHost));
    EXPECT_EQ(load("Old", kCFPreferencesCurrentUser), std::nullopt);
    ASSERT_TRUE(synchronize("org.example.app", kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(plist::readDictionary(userFile),
              (plist::Dictionary{{"Other", plist::Value(7)}, {"New", plist::Value("x")}}));
}

TEST_F(Preferences, AFailedSaveKeepsTheValueForTheProcessAndTriesAgain) {
    writeAll(home.configHome() + "/sonvela-preferences", "a file where the folder goes");
    ASSERT_TRUE(setValue("Key", plist::Value(1), "org.example.app", kCFPreferencesCurrentUser,
                         kCFPreferencesAnyHost));
    EXPECT_FALSE(synchronize("org.example.app", kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(load("Key", kCFPreferencesCurrentUser), plist::Value(1));

    fs::remove(home.configHome() + "/sonvela-preferences");
    EXPECT_TRUE(synchronize("org.example.app", kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(plist::readDictionary(userFile), (plist::Dictionary{{"Key", plist::Value(1)}}));
}

TEST_F(Preferences, RefusesValuesTheFileCannotHold) {
    for (const std::string& text :
         {std::string("\xff"), std::string("a\x01"), std::string("nul\0inside", 10)}) {
        EXPECT_FALSE(setValue("Key", plist::Value(text), "org.example.app",
                              kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
        EXPECT_FALSE(setValue(text, plist::Value(1), "org.example.app", kCFPreferencesCurrentUser,
                              kCFPreferencesAnyHost));
    }
    EXPECT_EQ(load("Key", kCFPreferencesCurrentUser), std::nullopt);
    EXPECT_TRUE(synchronize("org.example.app", kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_FALSE(fs::exists(userFile));
}

TEST_F(Preferences, AnUnreadableFileIsMovedAsideNotOverwritten) {
    fs::create_directories(fs::path(userFile).parent_path());
    const std::string broken[] = {"not a property list", "<plist><array/></plist>", ""};
    for (std::size_t i = 0; i < std::size(broken); ++i) {
        writeAll(userFile, broken[i]);
        EXPECT_EQ(load("Key", kCFPreferencesCurrentUser), std::nullopt);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(store("Key", plist::Value(int(i)), kCFPreferencesCurrentUser));
        std::string log = testing::internal::GetCapturedStderr();

        std::string aside = userFile + (i == 0 ? "" : "." + std::to_string(i)) + ".corrupt";
        EXPECT_EQ(readAll(aside), broken[i]);
        EXPECT_NE(log.find("moved it aside to " + aside), std::string::npos) << log;
        EXPECT_EQ(plist::readDictionary(userFile),
                  (plist::Dictionary{{"Key", plist::Value(int(i))}}));
    }
    // However many are there already, old ones never stop a save.
    for (int n = 3; n < 150; ++n) {
        writeAll(userFile + "." + std::to_string(n) + ".corrupt", "old");
    }
    writeAll(userFile, "broken again");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(store("Key", plist::Value(150), kCFPreferencesCurrentUser));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readAll(userFile + ".150.corrupt"), "broken again");
}

// Another program that takes no lock keeps swapping the file between a valid list and junk
// while we save: only ever the junk that was read may be moved aside, never a valid list.
TEST_F(Preferences, OnlyTheUnreadableFileThatWasReadIsMovedAside) {
    std::string folder = fs::path(userFile).parent_path();
    fs::create_directories(folder);
    std::string valid = home.path() + "/valid";
    std::string junk = home.path() + "/junk";
    std::string next = home.path() + "/next";
    ASSERT_TRUE(plist::writeXmlAtomically(valid, plist::Dictionary{{"Theirs", plist::Value(1)}}));
    writeAll(junk, "junk");
    pid_t swapper = fork();
    if (swapper == 0) {
        const char* sources[] = {valid.c_str(), junk.c_str()};
        for (unsigned i = 0;; ++i) {
            if (link(sources[i % 2], next.c_str()) == 0) {
                rename(next.c_str(), userFile.c_str());
            }
        }
    }
    testing::internal::CaptureStderr();
    for (int i = 0; i < 200; ++i) {
        store("Mine", plist::Value(i), kCFPreferencesCurrentUser); // may give up: it is a race
    }
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    testing::internal::GetCapturedStderr();
    int asides = 0;
    for (const std::string& name : sonvela::test::listDir(folder)) {
        if (name.ends_with(".corrupt")) {
            ++asides;
            EXPECT_EQ(readAll(folder + "/" + name), "junk") << name;
        }
    }
    EXPECT_GT(asides, 0);
}

} // namespace
