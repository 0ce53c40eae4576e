#include "shared/LoginItemAPI.h"
#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform::plist;
using namespace platform::prefs;
using Call = std::function<bool()>;
using sonvela::test::readAll;

namespace {

const ScopeRef user = kCFPreferencesCurrentUser;
const PreferencesScope kLookalike{"kCFPreferencesCurrentUser"};
const std::string kLongest = "/" + std::string(1023, 'a');

Value entry(const std::string& path, bool hide = false) {
    return Dictionary{{"Hide", Value(hide)}, {"Path", Value(path)}};
}

Call add(std::string path, unsigned char hide = 0, ScopeRef scope = user) {
    return [=] { return AddLoginItemWithPropertiesToUser(scope, path.c_str(), hide); };
}
Call removeAt(std::int32_t index) {
    return [=] { return RemoveLoginItemAtIndex(user, index); };
}
Call listing(ScopeRef scope = user) {
    return [=] { return PrintOutAllLoginItems(scope); };
}
// Prints the property's text, if any.
Call property(std::int32_t kind, std::int32_t index = 0) {
    return [=] {
        const char* text = ReturnLoginItemPropertyAtIndex(user, kind, index);
        std::printf("%s", text ? text : "");
        return text != nullptr;
    };
}

// Prints where the settings program finds an item by its bundle's file name; whether it is one.
Call find(std::string name) {
    return [=] {
        std::printf("%d", AppUtil::getLoginItemIndexByApplicationName(name));
        return AppUtil::applicationIsLoginItem(name);
    };
}

// A call on the list seeded (none: no file); what it prints and answers, and the list it leaves
// (none: the file as it was).
struct Case {
    std::optional<Value> seeded;
    Call call;
    std::string output;
    bool result;
    std::optional<Array> left = std::nullopt;
};

class LoginItemList : public testing::Test {
protected:
    void SetUp() override {
        overrideAnyUserFolderForTesting(home.path() + "/etc-xdg");
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    }

    std::string file() { return *preferencesFile("loginwindow", user); }
    void check(const std::vector<Case>& cases) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            fs::remove(file());
            fs::create_directories(fs::path(file()).parent_path());
            ASSERT_TRUE(!cases[i].seeded ||
                        writeXmlAtomically(file(), Dictionary{{"AutoLaunchedApplicationDictionary",
                                                               *cases[i].seeded}}));
            std::string before = readAll(file());
            testing::internal::CaptureStdout();
            bool result = cases[i].call();
            std::fflush(stdout);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), cases[i].output) << i;
            EXPECT_EQ(result, cases[i].result) << i;
            if (cases[i].left) {
                Dictionary stored = readDictionary(file()).value_or(Dictionary{});
                EXPECT_EQ(stored["AutoLaunchedApplicationDictionary"], Value(*cases[i].left)) << i;
            } else {
                EXPECT_EQ(readAll(file()), before) << i;
            }
        }
    }

    sonvela::test::TempHome home;
};

// Paths that are not text or do not fit, lists of a wrong shape and other scopes are refused
// without a word or a write.
TEST_F(LoginItemList, RemovesByPositionAndAppendsAtTheEnd) {
    const Array one{entry("/A.app")};
    const Array abc{entry("/A.app"), entry("/B.app"), entry("/C.app")};
    check({
        {std::nullopt, add("/A.app"), "", true, one},
        {one, add("/B.app", 1), "", true, Array{one[0], entry("/B.app", true)}},
        {one, add("/A.app", 255), "", true, Array{one[0], one[0]}}, // only a flag of 1 hides
        {std::nullopt, add(kLongest), "", true, Array{entry(kLongest)}},
        {abc, removeAt(1), "", true, Array{abc[0], abc[2]}},
        {abc, removeAt(3), "", false},
        {Array{Value("/A.app")}, add("/B.app"), "", true, Array{Value("/A.app"), entry("/B.app")}},
        {Value("not a list"), add("/B.app"), "", false},
        {Dictionary{{"Path", Value("/A.app")}}, removeAt(0), "", false},
        {one, add(kLongest + "b"), "", false},
        {one, add("/bad\xff.app"), "", false},
        {one, add("/ctrl\x01.app"), "", false},
        {one, [] { return AddLoginItemWithPropertiesToUser(user, nullptr, 0); }, "", false},
        {one, add("/B.app", 0, &kLookalike), "", false},
        {one, add("/Shared.app", 1, kCFPreferencesAnyUser), "", true}, // a list of its own
    });
}

// Wrong shapes read like nothing, a path must fit the buffer whole, other scopes say nothing.
TEST_F(LoginItemList, ListingIsExactAndStopsAtAnIncompleteEntry) {
    const Array mixer{entry("/Volumes/Apps/Mixer.app")};
    const std::string listed = "LoginItem Index 0:\n\tFull path to App: /Volumes/Apps/Mixer.app\n"
                               "\tHide Info:        false\n\tExecutable Name:  Mixer.app\n";
    const Value wrongTypes = Array{Dictionary{{"Path", Value(7)}, {"Hide", Value("true")}}};
    check({
        {Array{mixer[0], entry("//Tuner.app//", true)}, listing(),
         listed + "LoginItem Index 1:\n\tFull path to App: //Tuner.app//\n"
                  "\tHide Info:        true\n\tExecutable Name:  Tuner.app\n",
         true},
        {Array{Dictionary{{"Path", Value("/NoHide.app")}}, entry("/Later.app")}, listing(),
         "LoginItem Index 0:\n\tFull path to App: /NoHide.app\n", false},
        {Array{mixer[0], Dictionary{{"Hide", Value(false)}}}, listing(),
         listed + "LoginItem Index 1:\n", false},
        {mixer, property(kLoginItemFullPath, 1), "", false},
        {Value("not a list"), listing(), "LoginItems are Empty (i.e. there are no LoginItems)\n",
         true},
        {Dictionary{{"Path", Value("/A.app")}}, [] { return PrintNumberOfLoginItems(user); },
         "The number of LoginItems is: 0", true},
        {Array{Value("/A.app")}, listing(), "LoginItem Index 0:\n", false},
        {wrongTypes, property(kLoginItemExecutableName), "", false},
        {wrongTypes, property(kLoginItemHideInfo), "", false},
        {Array{entry(kLongest)}, property(kLoginItemFullPath), kLongest, true},
        {Array{entry(kLongest)}, property(kLoginItemExecutableName), kLongest.substr(1), true},
        {Array{entry(kLongest + "b")}, property(kLoginItemFullPath), "", false},
        {Array{entry(kLongest + "b")}, property(kLoginItemExecutableName), "", false},
        {mixer, listing(&kLookalike), "", false},
        {mixer, [] { return PrintNumberOfLoginItems(nullptr); }, "", false},
    });
}

TEST_F(LoginItemList, TheSettingsProgramFindsAnItemByItsBundlesFileName) {
    const Array both{entry("/A/Other.app"), entry("/A/H.app")};
    check({
        {both, find("H.app"), "1", true},
        {both, find("H"), "-1", false},
        {Array{entry("/A/H.app")}, find("h.app"), "-1", false},
        {Array{entry("/A/H.app"), entry("/B/H.app/")}, find("H.app"), "0", true},
        {Array{Dictionary{{"Hide", Value(true)}}, entry("/"), entry("/B/H.app/")}, find("H.app"),
         "2", true},
        {Array{}, find("H.app"), "-1", false},
    });
}

// Another tool's file holding a key that is no UTF-8 ({"\xFF\xFE": true}, binary) can be read
// but not written back: the change is not saved, the file stays whole, and the log says why.
TEST_F(LoginItemList, AListThatCannotBeWrittenBackIsLoggedAndLeftWhole) {
    using namespace std::string_literals;
    const std::string unwritable = "bplist00\xD1\x01\x02\x52\xFF\xFE\x09\x08\x0B\x0E"s +
                                   std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') +
                                   "\x03" + std::string(8, '\0') + std::string(7, '\0') + "\x0F";
    fs::create_directories(fs::path(file()).parent_path());
    sonvela::test::writeAll(file(), unwritable);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(AddLoginItemWithPropertiesToUser(user, "/A.app", 0));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "holds a key or value that XML cannot carry, or would be larger than 4 MiB; "
                  "not saved"),
              std::string::npos);
    EXPECT_EQ(readAll(file()), unwritable);
}

TEST_F(LoginItemList, TwoProgramsAddingAtOnceBothKeepEveryItem) {
    for (int writer = 0; writer < 2; ++writer) {
        if (fork() == 0) {
            bool added = true;
            for (int i = 0; i < 60; ++i) {
                std::string path = "/W" + std::to_string(writer) + "/" + std::to_string(i) + ".app";
                added = AddLoginItemWithPropertiesToUser(user, path.c_str(), 0) && added;
            }
            _exit(added ? 0 : 1);
        }
    }
    for (int status = -1; wait(&status) > 0; status = -1) {
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(GetCountOfLoginItems(user), 120);
}

} // namespace
