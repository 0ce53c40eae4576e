#include "platform/bundle/Bundle.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"
#include "platform/process/ProgramRunner.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TestBundle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
namespace plist = platform::plist;
using namespace platform::process;
using namespace sonvela::test;
using Pids = std::vector<std::string>;

namespace {

// Appends its id to $HOME/started and waits; stopped, it takes a moment to wind down.
const char* const kLingerer = "#!/bin/sh\n"
                              "trap 'kill $!; wait; sleep 0.3; exit 0' TERM\n"
                              "echo \"$$\" >> \"$HOME/started\"\n"
                              "sleep 1000 & wait\n";

// A settings program's bundle of the test's own, with the real lookup script or a stand-in.
class Processes : public testing::Test {
protected:
    void SetUp() override {
        platform::bundle::Bundle::overrideMainForTesting(app);
        useScript(readAll(SONVELA_SOURCE_DIR "/resources/getApplicationPid.sh"));
    }
    void TearDown() override { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }

    void useScript(const std::string& text) {
        writeAll(app + "/Resources/getApplicationPid.sh", text);
    }
    void useStandInScript(const std::string& output) {
        writeAll(app + "/Resources/output", output);
        useScript("cat \"${0%/*}/output\"\n");
    }
    // A process that waits until it is stopped; its parent is gone at once.
    std::string startSleeper(const std::string& program = "sleep") {
        auto pid = runProgram("/bin/sh", {"-c", "\"$0\" 1000 >/dev/null & echo $!", program});
        return pid ? pid->substr(0, pid->find('\n')) : "";
    }
    std::string bundle(const std::string& name, const std::string& executable = "prog",
                       const std::string& identifier = "") {
        return makeBundle(home.path(), name, identifier, executable, kStandInProgram);
    }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string app = makeBundle(home.path(), "Sonvela", "", "Sonvela", kStandInProgram);
};

// A child of the test that only renames itself; with a user id of its own it stands for another
// user's program. Killed and reaped at scope end.
struct NamedChild {
    NamedChild(const char* name, uid_t uid, bool endAtOnce) {
        if (pid == 0) {
            if ((uid == getuid() || (setgid(uid) == 0 && setuid(uid) == 0)) &&
                prctl(PR_SET_NAME, name) == 0 && !endAtOnce) {
                pause();
            }
            _exit(0);
        }
    }
    ~NamedChild() {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid_t pid = fork();
};

TEST_F(Processes, ProgramsGetTheirArgumentsUnchangedAnOpenInputAndTheWholeOutput) {
    std::pair<std::vector<std::string>, std::optional<std::string>> cases[] = {
        {{"/usr/bin/printf", "%s|", "a b", "\"quoted\"", "$(touch gotcha)", "", "*", "José"},
         "a b|\"quoted\"|$(touch gotcha)||*|José|"},
        {{home.path() + "/missing"}, std::nullopt},
        // cat would end at once on an end of file; it ends only when timeout stops it.
        {{"/bin/sh", "-c", "timeout 0.2 cat; echo $?"}, "124\n"},
        {{"/bin/sh", "-c", "head -c 3000000 /dev/zero; echo end"},
         std::string(3000000, 0) + "end\n"},
        {{"/bin/sh", "-c", "head -c 20000000 /dev/zero"}, std::nullopt},
        // A child left holding the output does not keep the caller waiting.
        {{"/bin/sh", "-c", "echo early; sleep 1000 & echo late"}, "early\nlate\n"},
    };
    for (const auto& [command, output] : cases) {
        std::vector<std::string> arguments(command.begin() + 1, command.end());
        EXPECT_TRUE(runProgram(command[0], arguments) == output) << command.back();
    }
    EXPECT_FALSE(fs::exists("gotcha"));
}

TEST_F(Processes, ScriptOutputIsCutAtEveryLineEnd) {
    std::pair<std::string, Pids> cases[] = {
        {"311\n", {"311", ""}}, {"311\n312\n", {"311", "312", ""}},
        {"311", {"311"}},       {"", {}},
        {"\n", {"", ""}},       {"311\r\n 312 \n", {"311\r", " 312 ", ""}},
        {"311\n\xff\n", {}},    {"\xc0\xb1\n", {}},
    };
    for (const auto& [output, pids] : cases) {
        useStandInScript(output);
        EXPECT_EQ(AppUtil::getApplicationPidsByName("Sonvela Helper"), pids) << output;
        EXPECT_EQ(AppUtil::getApplicationPidByName("Sonvela Helper"), pids.empty() ? "" : pids[0]);
        EXPECT_EQ(AppUtil::applicationIsRunning("Sonvela Helper"), !pids.empty()) << output;
    }
    useScript("printf '%s' \"$1\"\n");
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Helper; touch gotcha '\"$x"),
              Pids{"Helper; touch gotcha '\"$x"});
    fs::remove(app + "/Resources/getApplicationPid.sh");
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Sonvela Helper"), Pids{});
}

TEST_F(Processes, OnlyTheFirstPlainProcessIdIsStopped) {
    std::string first = startSleeper();
    std::string second = startSleeper();
    ASSERT_TRUE(isAlive(std::stoi(first)) && isAlive(std::stoi(second)));
    for (std::string harmless :
         {std::string(), "\n" + first + "\n", std::string("abc\n"), first + "x\n", "+" + first}) {
        useStandInScript(harmless);
        AppUtil::killApplicationByName("Sleeper");
    }
    EXPECT_TRUE(isAlive(std::stoi(first)));
    useStandInScript(first + "\n" + second + "\n");
    AppUtil::killApplicationByName("Sleeper");
    EXPECT_TRUE(eventually([&] { return !isAlive(std::stoi(first)); }));
    EXPECT_TRUE(isAlive(std::stoi(second)));
}

TEST_F(Processes, TheScriptFindsTheUsersLivingProcessesByNamesOfAnyLengthAndNothingElse) {
    makeDirs(home.path() + "/programs");
    for (std::string name :
         {"shortie", "Exactly 15 byte", "A Rather Long Stand-In Name", "Ünïcödé Ständ-In Näme"}) {
        fs::copy_file("/bin/sleep", home.path() + "/programs/" + name);
        std::string pid = startSleeper(home.path() + "/programs/" + name);
        EXPECT_TRUE(eventually([&] { return processName(std::stoi(pid)) != "sh"; }));
        EXPECT_EQ(AppUtil::getApplicationPidsByName(name), Pids{pid}) << name;
        if (name.size() > 15) {
            EXPECT_EQ(AppUtil::getApplicationPidsByName(name.substr(0, 15)), Pids{}) << name;
        }
    }
    NamedChild ours("Lookup StandIn", getuid(), false);
    NamedChild ended("Zombie StandIn", getuid(), true);
    ASSERT_TRUE(eventually([&] {
        return processName(ours.pid) == "Lookup StandIn" && !isAlive(ended.pid) &&
               processName(ended.pid) == "Zombie StandIn";
    }));
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Lookup StandIn"), Pids{std::to_string(ours.pid)});
    for (const char* none : {"Zombie StandIn", "Exactly 15 bytes", "", "No Such Program"}) {
        EXPECT_EQ(AppUtil::getApplicationPidsByName(none), Pids{}) << none;
    }
    if (getuid() != 0) {
        GTEST_SKIP() << "another user's process needs root to be made";
    }
    NamedChild theirs("Others StandIn", 65534, false);
    ASSERT_TRUE(eventually([&] { return processName(theirs.pid) == "Others StandIn"; }));
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Others StandIn"), Pids{});
}

TEST_F(Processes, LoginItemsAreFoundByTheirBundleFileName) {
    // Paths of the login items ("" for an entry without one), the name, where it is found.
    std::tuple<std::vector<std::string>, std::string, int> cases[] = {
        {{"/A/Other.app", "/A/H.app"}, "H.app", 1},
        {{"/A/Other.app", "/A/H.app"}, "H", -1},
        {{"/A/H.app"}, "h.app", -1},
        {{"/A/H.app", "/B/H.app/"}, "H.app", 0},
        {{"", "/", "/B/H.app/"}, "H.app", 2},
        {{}, "H.app", -1},
    };
    std::string file = *platform::prefs::preferencesFile(
        "loginwindow", platform::prefs::kCFPreferencesCurrentUser);
    makeDirs(fs::path(file).parent_path());
    for (const auto& [paths, name, index] : cases) {
        plist::Array list;
        for (const std::string& path : paths) {
            list.push_back(plist::Dictionary{{path.empty() ? "Hide" : "Path", plist::Value(path)}});
        }
        ASSERT_TRUE(plist::writeXmlAtomically(
            file, plist::Dictionary{{"AutoLaunchedApplicationDictionary", list}}));
        EXPECT_EQ(AppUtil::getLoginItemIndexByApplicationName(name), index) << name;
        EXPECT_EQ(AppUtil::applicationIsLoginItem(name), index >= 0) << name;
    }
}

TEST_F(Processes, TheInstanceLockIsHeldOnce) {
    InstanceLock first("org.example.Tool");
    EXPECT_EQ(first.state(), InstanceLock::State::Taken);
    EXPECT_TRUE(fs::exists(home.path() + "/run/org.example.Tool.lock"));
    {
        // The first descriptor stands for one a launcher handed down.
        fcntl(first.fd(), F_SETFD, 0);
        InstanceLock second("org.example.Tool");
        EXPECT_EQ(second.state(), InstanceLock::State::HeldElsewhere);
        EXPECT_TRUE(second.adoptInherited());
        EXPECT_EQ(fcntl(first.fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    }
    for (const char* refused : {"", "../escape", ".hidden", "a/b"}) {
        EXPECT_EQ(InstanceLock(refused).state(), InstanceLock::State::Unavailable) << refused;
    }
    unsetenv("XDG_RUNTIME_DIR");
    if (!fs::is_directory("/run/user/" + std::to_string(getuid()))) {
        EXPECT_EQ(InstanceLock("org.example.Other").state(), InstanceLock::State::Unavailable);
    }
}

// Started at the same moment from four threads, it runs once, on its own, and holds its lock;
// stopped by name it is gone at once, and starts again.
TEST_F(Processes, ALaunchedApplicationRunsOnceOnItsOwnUntilStopped) {
    std::string lingerer =
        makeBundle(home.path(), "Lingerer", "org.example.L", "Lingerer", kLingerer);
    setenv("SONVELA_LAUNCHED_HIDDEN", "1", 1);
    std::vector<LaunchResult> results(4);
    std::vector<std::thread> launchers;
    for (LaunchResult& result : results) {
        launchers.emplace_back([&] { result = launchApplication(lingerer); });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    EXPECT_EQ(std::count(results.begin(), results.end(), LaunchResult::Launched), 1);
    // The mark is ours alone, and taken once.
    EXPECT_TRUE(launchedHidden());
    EXPECT_EQ(std::getenv("SONVELA_LAUNCHED_HIDDEN"), nullptr);
    ASSERT_TRUE(eventually([&] { return startedPids(home.path()).size() == 1; }));
    std::string proc = "/proc/" + std::to_string(startedPids(home.path())[0]);
    std::string stat = readAll(proc + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string state, parent, group, session;
    fields >> state >> parent >> group >> session;
    EXPECT_EQ("/proc/" + session, proc) << "its own session";
    EXPECT_EQ(fs::read_symlink(proc + "/cwd").string(), "/");
    EXPECT_EQ(fs::read_symlink(proc + "/fd/0").string(), "/dev/null");
    EXPECT_EQ(readAll(proc + "/environ").find("SONVELA_LAUNCHED_HIDDEN"), std::string::npos);
    EXPECT_EQ(launchApplication(lingerer), LaunchResult::AlreadyRunning);
    EXPECT_FALSE(InstanceLock("org.example.L").adoptInherited()) << "nothing of ours holds it";

    AppUtil::killApplicationByName("Lingerer");
    EXPECT_FALSE(AppUtil::applicationIsRunning("Lingerer"));
    EXPECT_EQ(launchApplication(lingerer), LaunchResult::Launched);
    // Reaped by the launcher: not even a zombie stays.
    EXPECT_TRUE(eventually([&] { return !fs::exists(proc); }));
    EXPECT_TRUE(eventually([&] { return AppUtil::applicationIsRunning("Lingerer"); }));
}

TEST_F(Processes, ABundleThatNamesNoProgramIsNotLaunched) {
    std::string missing = bundle("Missing");
    fs::remove(missing + "/bin/prog");
    std::string flat = bundle("Flat");
    fs::permissions(flat + "/bin/prog", fs::perms(0600));
    std::string noInfo = bundle("NoInfo");
    fs::remove(noInfo + "/Info.plist");
    for (const std::string& path :
         {bundle("Escaping", "../prog"), missing, flat, noInfo, home.path() + "/Nowhere.app"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(launchApplication(path), LaunchResult::Failed) << path;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot launch"), std::string::npos);
    }
    EXPECT_TRUE(startedPids(home.path()).empty());
    // Without an identifier nothing tells whether it runs: each launch starts it.
    std::string plain = bundle("Plain");
    EXPECT_EQ(launchApplication(plain), LaunchResult::Launched);
    EXPECT_EQ(launchApplication(plain), LaunchResult::Launched);
    EXPECT_TRUE(eventually([&] { return startedPids(home.path()).size() == 2; }));
}

} // namespace
