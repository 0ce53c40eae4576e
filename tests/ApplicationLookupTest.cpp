#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "platform/process/ProgramRunner.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
#include "tests/support/Eventually.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace plist = platform::plist;
using namespace sonvela::test;
using Pids = std::vector<std::string>;

namespace {

// A settings program's bundle of the test's own, whose script is a stand-in or the real one.
class ApplicationLookup : public testing::Test {
protected:
    void SetUp() override {
        makeDirs(app + "/Resources");
        platform::bundle::Bundle::overrideMainForTesting(app);
    }
    void TearDown() override { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }

    void useStandInScript(const std::string& output) {
        writeAll(app + "/Resources/output", output);
        writeAll(app + "/Resources/getApplicationPid.sh", "cat \"${0%/*}/output\"\n");
    }
    void useRealScript() {
        fs::copy_file(SONVELA_SOURCE_DIR "/resources/getApplicationPid.sh",
                      app + "/Resources/getApplicationPid.sh");
    }
    // A process that waits until it is stopped; its parent is gone at once.
    std::string startSleeper(const std::string& program = "sleep") {
        auto pid = platform::process::runProgram(
            "/bin/sh", {"-c", "\"$0\" 1000 >/dev/null & echo $!", program});
        return pid ? pid->substr(0, pid->find('\n')) : "";
    }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string app = home.path() + "/Sonvela.app";
};

TEST_F(ApplicationLookup, ScriptOutputIsCutAtEveryLineEnd) {
    struct {
        std::string output;
        Pids pids;
        std::string pid;
    } cases[] = {
        {"311\n", {"311", ""}, "311"}, {"311\n312\n", {"311", "312", ""}, "311"},
        {"311", {"311"}, "311"},       {"", {}, ""},
        {"\n", {"", ""}, ""},          {"311\r\n 312 \n", {"311\r", " 312 ", ""}, "311\r"},
        {"311\n\xff\n", {}, ""},       {"\xc0\xb1\n", {}, ""},
    };
    for (const auto& c : cases) {
        useStandInScript(c.output);
        EXPECT_EQ(AppUtil::getApplicationPidsByName("Sonvela Helper"), c.pids) << c.output;
        EXPECT_EQ(AppUtil::getApplicationPidByName("Sonvela Helper"), c.pid) << c.output;
        EXPECT_EQ(AppUtil::applicationIsRunning("Sonvela Helper"), !c.pids.empty()) << c.output;
    }
    writeAll(app + "/Resources/getApplicationPid.sh", "printf '%s' \"$1\"\n");
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Helper; touch gotcha '\"$x"),
              Pids{"Helper; touch gotcha '\"$x"});
    fs::remove(app + "/Resources/getApplicationPid.sh");
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Sonvela Helper"), Pids{});
}

TEST_F(ApplicationLookup, OnlyTheFirstPlainProcessIdIsStopped) {
    std::string first = startSleeper();
    std::string second = startSleeper();
    ASSERT_TRUE(isAlive(std::stoi(first)) && isAlive(std::stoi(second)));
    for (const std::string& harmless :
         std::vector<std::string>{"", "\n" + first + "\n", "abc\n", first + "x\n", "+" + first}) {
        useStandInScript(harmless);
        AppUtil::killApplicationByName("Sleeper");
    }
    EXPECT_TRUE(isAlive(std::stoi(first)));

    useStandInScript(first + "\n" + second + "\n");
    AppUtil::killApplicationByName("Sleeper");
    EXPECT_TRUE(eventually([&] { return !isAlive(std::stoi(first)); }));
    EXPECT_TRUE(isAlive(std::stoi(second)));
}

TEST_F(ApplicationLookup, TheScriptFindsNamesOfAnyLengthAndNothingElse) {
    useRealScript();
    EXPECT_EQ(platform::process::runProgram(
                  "/bin/sh", {app + "/Resources/getApplicationPid.sh", "No Such Program"}),
              "");
    std::string folder = home.path() + "/programs";
    makeDirs(folder);
    for (std::string name :
         {"shortie", "Exactly 15 byte", "A Rather Long Stand-In Name", "Ünïcödé Ständ-In Näme"}) {
        fs::copy_file("/bin/sleep", folder + "/" + name);
        std::string pid = startSleeper(folder + "/" + name);
        EXPECT_TRUE(eventually([&] { return processName(std::stoi(pid)) != "sh"; }));
        EXPECT_EQ(AppUtil::getApplicationPidsByName(name), Pids{pid}) << name;
        if (name.size() > 15) {
            EXPECT_EQ(AppUtil::getApplicationPidsByName(name.substr(0, 15)), Pids{}) << name;
        }
    }
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Exactly 15 bytes"), Pids{});
    EXPECT_EQ(AppUtil::getApplicationPidsByName(""), Pids{});
}

// A child of the test that only renames itself: with a user id of its own it stands for
// another user's program, without one for a program of ours. Killed and reaped at scope end.
class NamedChild {
public:
    NamedChild(const char* name, uid_t uid, bool endAtOnce) : pid_(fork()) {
        if (pid_ == 0) {
            if (uid != getuid() && (setgid(uid) != 0 || setuid(uid) != 0)) {
                _exit(1);
            }
            prctl(PR_SET_NAME, name);
            if (!endAtOnce) {
                pause();
            }
            _exit(0);
        }
    }
    ~NamedChild() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    NamedChild(const NamedChild&) = delete;
    NamedChild& operator=(const NamedChild&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

TEST_F(ApplicationLookup, OnlyTheCurrentUsersLivingProcessesCount) {
    useRealScript();
    {
        NamedChild ours("Lookup StandIn", getuid(), false);
        ASSERT_TRUE(eventually([&] { return processName(ours.pid()) == "Lookup StandIn"; }));
        EXPECT_EQ(AppUtil::getApplicationPidsByName("Lookup StandIn"),
                  Pids{std::to_string(ours.pid())});
    }
    {
        NamedChild ended("Zombie StandIn", getuid(), true);
        ASSERT_TRUE(eventually(
            [&] { return !isAlive(ended.pid()) && processName(ended.pid()) == "Zombie StandIn"; }));
        EXPECT_EQ(AppUtil::getApplicationPidsByName("Zombie StandIn"), Pids{});
    }
    if (getuid() != 0) {
        GTEST_SKIP() << "another user's process needs root to be made";
    }
    const uid_t nobody = 65534;
    NamedChild theirs("Others StandIn", nobody, false);
    ASSERT_TRUE(eventually([&] { return processName(theirs.pid()) == "Others StandIn"; }));
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Others StandIn"), Pids{});
    AppUtil::killApplicationByName("Others StandIn");
    EXPECT_TRUE(isAlive(theirs.pid()));
}

TEST_F(ApplicationLookup, LoginItemsAreFoundByTheirBundleFileName) {
    auto entry = [](const std::string& path) {
        return plist::Value(
            plist::Dictionary{{"Hide", plist::Value(false)}, {"Path", plist::Value(path)}});
    };
    plist::Value noPath = plist::Dictionary{{"Hide", plist::Value(false)}};
    struct {
        plist::Array list;
        std::string name;
        std::int32_t index;
    } cases[] = {
        {{entry("/Apps/Other.app"), entry("/Apps/Sonvela Helper.app")}, "Sonvela Helper.app", 1},
        {{entry("/Apps/Other.app"), entry("/Apps/Sonvela Helper.app")}, "Sonvela Helper", -1},
        {{entry("/Apps/Other.app"), entry("/Apps/Sonvela Helper.app")}, "sonvela helper.app", -1},
        {{entry("/A/Sonvela Helper.app"), entry("/B/Sonvela Helper.app/")},
         "Sonvela Helper.app",
         0},
        {{noPath, entry("/"), entry("/X/Sonvela Helper.app/")}, "Sonvela Helper.app", 2},
        {{}, "Sonvela Helper.app", -1},
    };
    std::string file = *platform::prefs::preferencesFile(
        "loginwindow", platform::prefs::kCFPreferencesCurrentUser);
    makeDirs(fs::path(file).parent_path());
    for (const auto& c : cases) {
        ASSERT_TRUE(plist::writeXmlAtomically(
            file, plist::Dictionary{{"AutoLaunchedApplicationDictionary", c.list}}));
        EXPECT_EQ(AppUtil::getLoginItemIndexByApplicationName(c.name), c.index) << c.name;
        EXPECT_EQ(AppUtil::applicationIsLoginItem(c.name), c.index >= 0) << c.name;
    }
}

} // namespace
