#include "shared/LoginItemAPI.h"
#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace plist = platform::plist;
using namespace platform::prefs;
using sonvela::test::readAll;
using sonvela::test::TempHome;

namespace {

const ScopeRef user = kCFPreferencesCurrentUser;

plist::Value entry(const std::string& path, bool hide = false) {
    return plist::Dictionary{{"Hide", plist::Value(hide)}, {"Path", plist::Value(path)}};
}

std::string printed(const std::function<bool()>& call, bool* result = nullptr) {
    testing::internal::CaptureStdout();
    bool answer = call();
    std::fflush(stdout);
    if (result != nullptr) {
        *result = answer;
    }
    return testing::internal::GetCapturedStdout();
}

std::optional<std::string> text(const char* result) {
    return result == nullptr ? std::nullopt : std::optional<std::string>(result);
}

class LoginItemList : public testing::Test {
protected:
    void SetUp() override {
        overrideAnyUserFolderForTesting(home.path() + "/etc-xdg");
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    }
    void TearDown() override {
        overrideAnyUserFolderForTesting(std::nullopt);
        platform::bundle::Bundle::overrideMainForTesting(std::nullopt);
    }

    std::string file(ScopeRef scope = user) { return *preferencesFile("loginwindow", scope); }
    void seed(const plist::Value& list, ScopeRef scope = user) {
        fs::create_directories(fs::path(file(scope)).parent_path());
        ASSERT_TRUE(plist::writeXmlAtomically(
            file(scope), plist::Dictionary{{"AutoLaunchedApplicationDictionary", list}}));
    }
    std::optional<plist::Value> stored(ScopeRef scope = user) {
        auto values = plist::readDictionary(file(scope));
        if (!values || !values->contains("AutoLaunchedApplicationDictionary")) {
            return std::nullopt;
        }
        return values->at("AutoLaunchedApplicationDictionary");
    }

    TempHome home;
};

TEST_F(LoginItemList, AMissingListIsEmptyAndAnAdditionStartsOne) {
    EXPECT_EQ(GetCountOfLoginItems(user), 0);
    bool result = false;
    EXPECT_EQ(printed([] { return PrintOutAllLoginItems(user); }, &result),
              "LoginItems are Empty (i.e. there are no LoginItems)\n");
    EXPECT_TRUE(result);
    EXPECT_EQ(printed([] { return PrintNumberOfLoginItems(user); }),
              "The number of LoginItems is: 0");
    EXPECT_FALSE(RemoveLoginItemAtIndex(user, 0));
    EXPECT_EQ(ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, 0), nullptr);

    EXPECT_TRUE(AddLoginItemWithPropertiesToUser(user, "/Volumes/Apps/Mixer.app", 0));
    EXPECT_EQ(stored(), plist::Value(plist::Array{entry("/Volumes/Apps/Mixer.app")}));
    EXPECT_FALSE(fs::exists(file(kCFPreferencesAnyUser)));

    // The any-user list is a list of its own.
    EXPECT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, "/Shared.app", 1));
    EXPECT_EQ(stored(kCFPreferencesAnyUser),
              plist::Value(plist::Array{entry("/Shared.app", true)}));
    EXPECT_EQ(GetCountOfLoginItems(user), 1);
    EXPECT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesAnyUser, 0));
    EXPECT_EQ(stored(kCFPreferencesAnyUser), plist::Value(plist::Array{}));
    EXPECT_EQ(GetCountOfLoginItems(user), 1);
}

TEST_F(LoginItemList, RemovesByPositionAndAppendsAtTheEnd) {
    struct {
        std::int32_t index;
        bool removed;
        plist::Array left;
    } cases[] = {
        {1, true, {entry("/A.app"), entry("/C.app")}},
        {0, true, {entry("/B.app"), entry("/C.app")}},
        {2, true, {entry("/A.app"), entry("/B.app")}},
        {3, false, {entry("/A.app"), entry("/B.app"), entry("/C.app")}},
        {-1, false, {entry("/A.app"), entry("/B.app"), entry("/C.app")}},
    };
    for (const auto& c : cases) {
        seed(plist::Array{entry("/A.app"), entry("/B.app"), entry("/C.app")});
        EXPECT_EQ(RemoveLoginItemAtIndex(user, c.index), c.removed) << c.index;
        EXPECT_EQ(stored(), plist::Value(c.left)) << c.index;
    }
    // The same path twice gives two entries.
    seed(plist::Array{entry("/A.app")});
    EXPECT_TRUE(AddLoginItemWithPropertiesToUser(user, "/B.app", 0));
    EXPECT_TRUE(AddLoginItemWithPropertiesToUser(user, "/B.app", 0));
    EXPECT_EQ(GetCountOfLoginItems(user), 3);
    EXPECT_EQ(stored(),
              plist::Value(plist::Array{entry("/A.app"), entry("/B.app"), entry("/B.app")}));
}

TEST_F(LoginItemList, TwoProgramsAddingAtOnceBothKeepEveryItem) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int writer = 0; writer < 2; ++writer) {
        pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char go;
            ssize_t ignored = read(gate[0], &go, 1); // returns once the test closes its end
            (void)ignored;
            bool added = true;
            for (int i = 0; i < 60; ++i) {
                std::string path = "/W" + std::to_string(writer) + "/" + std::to_string(i) + ".app";
                added = AddLoginItemWithPropertiesToUser(user, path.c_str(), 0) && added;
            }
            _exit(added ? 0 : 1);
        }
        writers.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : writers) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(GetCountOfLoginItems(user), 120);
}

TEST_F(LoginItemList, OnlyAHideFlagOfOneHides) {
    struct {
        unsigned char flag;
        bool hidden;
        const char* text;
    } cases[] = {
        {0, false, "false"}, {1, true, "true"}, {2, false, "false"}, {255, false, "false"}};
    for (const auto& c : cases) {
        fs::remove(file());
        ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, "/A.app", c.flag));
        EXPECT_EQ(stored(), plist::Value(plist::Array{entry("/A.app", c.hidden)})) << int(c.flag);
        EXPECT_EQ(text(ReturnLoginItemPropertyAtIndex(user, kLoginItemHideInfo, 0)), c.text);
    }
}

TEST_F(LoginItemList, PropertyKindsAndPathShapes) {
    struct {
        std::string path;
        std::optional<std::string> fullPath;
        std::optional<std::string> name;
    } cases[] = {
        {"/Volumes/Apps/Mixer.app", "/Volumes/Apps/Mixer.app", "Mixer.app"},
        {"/Volumes/Apps/Mixer.app/", "/Volumes/Apps/Mixer.app/", "Mixer.app"},
        {"//Apps//Mixer.app//", "//Apps//Mixer.app//", "Mixer.app"},
        {"Mixer.app", "Mixer.app", "Mixer.app"},
        {"", "", std::nullopt},
        {"/", "/", std::nullopt},
        {"/home/José/Apps/Mélangeur.app", "/home/José/Apps/Mélangeur.app", "Mélangeur.app"},
    };
    for (const auto& c : cases) {
        seed(plist::Array{entry(c.path, true)});
        EXPECT_EQ(text(ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, 0)), c.fullPath);
        EXPECT_EQ(text(ReturnLoginItemPropertyAtIndex(user, kLoginItemExecutableName, 0)), c.name)
            << c.path;
        EXPECT_EQ(text(ReturnLoginItemPropertyAtIndex(user, kLoginItemHideInfo, 0)), "true");
        for (std::int32_t kind : {0, 4, -1}) {
            EXPECT_EQ(ReturnLoginItemPropertyAtIndex(user, kind, 0), nullptr) << kind;
        }
        EXPECT_EQ(ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, 1), nullptr);
    }
}

TEST_F(LoginItemList, ResultsShareOneBuffer) {
    seed(plist::Array{entry("/Volumes/Apps/Mixer.app", true)});
    char* path = ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, 0);
    EXPECT_EQ(path, ReturnCharacterArray);
    char* hide = ReturnLoginItemPropertyAtIndex(user, kLoginItemHideInfo, 0);
    EXPECT_EQ(hide, ReturnCharacterArray);
    // "true" and its NUL overwrite the start; the rest of the path stays.
    EXPECT_EQ(std::memcmp(ReturnCharacterArray, "true\0mes/Apps/Mixer.app", 24), 0);

    char* name = ReturnLoginItemPropertyAtIndex(user, kLoginItemExecutableName, 0);
    EXPECT_EQ(name, ReturnCharacterArray + 14);
    EXPECT_STREQ(ReturnCharacterArray, "/Volumes");
}

TEST_F(LoginItemList, APathMustFitTheBufferWhole) {
    std::string longest = "/" + std::string(1022, 'a') + "b";
    std::string tooLong = longest + "c";
    EXPECT_TRUE(AddLoginItemWithPropertiesToUser(user, longest.c_str(), 0));
    EXPECT_EQ(text(ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, 0)), longest);
    EXPECT_FALSE(AddLoginItemWithPropertiesToUser(user, tooLong.c_str(), 0));
    EXPECT_EQ(GetCountOfLoginItems(user), 1);

    seed(plist::Array{entry(tooLong), entry(std::string(5000, 'x'))});
    std::memset(ReturnCharacterArray, '=', kReturnCharacterArraySize);
    for (std::int32_t index : {0, 1}) {
        EXPECT_EQ(ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, index), nullptr);
        EXPECT_EQ(ReturnLoginItemPropertyAtIndex(user, kLoginItemExecutableName, index), nullptr);
    }
    EXPECT_EQ(std::string(ReturnCharacterArray, kReturnCharacterArraySize),
              std::string(kReturnCharacterArraySize, '='));
}

TEST_F(LoginItemList, ListingIsExactAndStopsAtAnIncompleteEntry) {
    plist::Value noHide = plist::Dictionary{{"Path", plist::Value("/Apps/NoHide.app")}};
    plist::Value noPath = plist::Dictionary{{"Hide", plist::Value(false)}};
    const std::string mixer = "\tFull path to App: /Volumes/Apps/Mixer.app\n"
                              "\tHide Info:        false\n"
                              "\tExecutable Name:  Mixer.app\n";
    struct {
        plist::Array list;
        std::string listing;
        bool complete;
    } cases[] = {
        {{entry("/Volumes/Apps/Mixer.app")}, "LoginItem Index 0:\n" + mixer, true},
        {{entry("/Volumes/Apps/Mixer.app"), entry("/Tuner.app/", true)},
         "LoginItem Index 0:\n" + mixer +
             "LoginItem Index 1:\n\tFull path to App: /Tuner.app/\n"
             "\tHide Info:        true\n\tExecutable Name:  Tuner.app\n",
         true},
        {{noHide, entry("/Later.app")},
         "LoginItem Index 0:\n\tFull path to App: /Apps/NoHide.app\n",
         false},
        {{noPath, entry("/Later.app")}, "LoginItem Index 0:\n", false},
        {{entry("/Volumes/Apps/Mixer.app"), noPath},
         "LoginItem Index 0:\n" + mixer + "LoginItem Index 1:\n",
         false},
    };
    for (const auto& c : cases) {
        seed(c.list);
        bool result = !c.complete;
        EXPECT_EQ(printed([] { return PrintOutAllLoginItems(user); }, &result), c.listing);
        EXPECT_EQ(result, c.complete);
    }
    seed(plist::Array{noHide});
    bool result = true;
    EXPECT_EQ(printed([] { return PrintOutLoginItemAtIndex(user, 0); }, &result),
              "\tFull path to App: /Apps/NoHide.app\n");
    EXPECT_FALSE(result);
    EXPECT_EQ(printed([] { return PrintOutLoginItemAtIndex(user, 1); }, &result), "");
    EXPECT_FALSE(result);
}

TEST_F(LoginItemList, WrongShapesReadLikeMissingAndAreNeverOverwritten) {
    struct {
        plist::Value list;
        std::int32_t count;
    } cases[] = {
        {plist::Value("not a list"), 0},
        {plist::Dictionary{{"Path", plist::Value("/A.app")}}, 0},
        {plist::Value(3), 0},
        {plist::Array{plist::Value("/A.app")}, 1},
        {plist::Array{plist::Dictionary{{"Path", plist::Value(7)}, {"Hide", plist::Value(1)}}}, 1},
        {plist::Array{plist::Dictionary{{"Path", plist::Array{}}, {"Hide", plist::Value("true")}}},
         1},
    };
    for (const auto& c : cases) {
        seed(c.list);
        std::string before = readAll(file());
        EXPECT_EQ(GetCountOfLoginItems(user), c.count);
        for (std::int32_t kind : {1, 2, 3}) {
            EXPECT_EQ(ReturnLoginItemPropertyAtIndex(user, kind, 0), nullptr);
        }
        bool result = true;
        std::string listing = printed([] { return PrintOutAllLoginItems(user); }, &result);
        EXPECT_EQ(result, c.count == 0);
        EXPECT_EQ(listing, c.count == 0 ? "LoginItems are Empty (i.e. there are no LoginItems)\n"
                                        : "LoginItem Index 0:\n");
        EXPECT_EQ(AddLoginItemWithPropertiesToUser(user, "/B.app", 0), c.count > 0);
        if (c.count == 0) {
            EXPECT_FALSE(RemoveLoginItemAtIndex(user, 0));
            EXPECT_EQ(readAll(file()), before);
        }
    }
}

TEST_F(LoginItemList, PathsThatAreNotTextAreRefused) {
    seed(plist::Array{entry("/A.app")});
    std::string before = readAll(file());
    for (const char* path : {"/bad\xff.app", "/ctrl\x01.app", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(AddLoginItemWithPropertiesToUser(user, path, 0));
    }
    EXPECT_EQ(readAll(file()), before);
    EXPECT_EQ(GetCountOfLoginItems(user), 1);
}

TEST_F(LoginItemList, OtherScopesAreRefusedWithoutAWordOrAWrite) {
    PreferencesScope lookalike{"kCFPreferencesCurrentUser"};
    seed(plist::Array{entry("/A.app")});
    std::string before = readAll(file());
    for (ScopeRef scope : {ScopeRef(&lookalike), ScopeRef(nullptr), kCFPreferencesAnyHost}) {
        std::string output = printed([scope] {
            EXPECT_EQ(GetCountOfLoginItems(scope), 0);
            EXPECT_EQ(ReturnLoginItemPropertyAtIndex(scope, kLoginItemFullPath, 0), nullptr);
            EXPECT_FALSE(PrintNumberOfLoginItems(scope));
            EXPECT_FALSE(PrintOutLoginItemAtIndex(scope, 0));
            EXPECT_FALSE(PrintOutAllLoginItems(scope));
            EXPECT_FALSE(RemoveLoginItemAtIndex(scope, 0));
            EXPECT_FALSE(AddLoginItemWithPropertiesToUser(scope, "/B.app", 0));
            return true;
        });
        EXPECT_EQ(output, "");
    }
    EXPECT_EQ(readAll(file()), before);
    EXPECT_FALSE(fs::exists(home.path() + "/etc-xdg"));
}

} // namespace
