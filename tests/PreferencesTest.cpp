#include "platform/prefs/Preferences.h"
#include "platform/bundle/Bundle.h"
#include "platform/loginwindow/AutostartEntry.h"
#include "platform/names/ProductNames.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistFile.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"
#include "shared/AppUtil.h"
#include "shared/CeilingTable.h"
#include "shared/LoginItemAPI.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform::plist;
using namespace platform::prefs;
using namespace sonvela::test;
using Call = std::function<bool()>;

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
    ASSERT_TRUE(writeXmlAtomically(valid, Dictionary{{"Theirs", 1}}));
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

    TempHome home;
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
    writeAll(file(), unwritable);
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
