#include "platform/bundle/Bundle.h"
#include "platform/loginwindow/AutostartEntry.h"
#include "platform/loginwindow/LoginWindow.h"
#include "platform/plist/PlistFile.h"
#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"
#include "platform/process/ProgramRunner.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/StrayProcesses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using namespace platform::loginwindow;
using namespace platform::prefs;
using namespace platform::process;
using namespace sonvela::test;
using platform::bundle::Bundle;
using Commands = std::vector<std::vector<std::string>>;
using Pids = std::vector<std::string>;

namespace {

// Makes <folder>/<name>.app: an Info.plist naming the executable and the identifier (left out
// when empty), Resources/, and bin/<executable> holding the text, executable by everyone.
std::string makeBundle(const std::string& folder, const std::string& name,
                       const std::string& identifier, const std::string& executable,
                       const std::string& programText) {
    namespace plist = platform::plist;
    std::string bundle = folder + "/" + name + ".app";
    makeDirs(bundle + "/bin");
    makeDirs(bundle + "/Resources");
    plist::Dictionary info{{"CFBundleExecutable", plist::Value(executable)}};
    if (!identifier.empty()) {
        info["CFBundleIdentifier"] = plist::Value(identifier);
    }
    plist::writeXmlAtomically(bundle + "/Info.plist", info);
    writeAll(bundle + "/bin/" + executable, programText);
    std::filesystem::permissions(bundle + "/bin/" + executable, std::filesystem::perms(0755));
    return bundle;
}

// A program that appends its process id to $HOME/started and then waits as "sleep".
constexpr const char* kStandInProgram = "#!/bin/sh\n"
                                        "echo \"$$\" >> \"$HOME/started\"\n"
                                        "exec sleep 1000\n";

// The process ids the stand-in programs of the home have written so far.
std::vector<pid_t> startedPids(const std::string& home) {
    std::istringstream lines(readAll(home + "/started"));
    return {std::istream_iterator<pid_t>(lines), std::istream_iterator<pid_t>()};
}

// Appends its id to $HOME/started and waits; stopped, it takes a moment to wind down.
const char* const kSlowToStop = "#!/bin/sh\n"
                                "trap 'kill $!; wait; sleep 0.3; exit 0' TERM\n"
                                "echo \"$$\" >> \"$HOME/started\"\n"
                                "sleep 1000 & wait\n";

// A settings program's bundle of the test's own, with the real lookup script or a stand-in.
class Processes : public testing::Test {
protected:
    void SetUp() override {
        writeAll(script, readAll(SONVELA_SOURCE_DIR "/resources/getApplicationPid.sh"));
    }

    void useStandInScript(const std::string& output) {
        writeAll(app.path() + "/Resources/output", output);
        writeAll(script, "cat \"${0%/*}/output\"\n");
    }
    // A process that waits until it is stopped; its parent is gone at once.
    std::string startSleeper(const std::string& program = "sleep") {
        auto pid = runProgram("/bin/sh", {"-c", "\"$0\" 1000 >/dev/null & echo $!", program});
        return pid ? pid->substr(0, pid->find('\n')) : "";
    }
    std::string bundle(const std::string& name, const std::string& executable = "prog") {
        return makeBundle(home.path(), name, "", executable, kStandInProgram);
    }

    TempHome home;
    StrayProcesses strays{home.path()};
    MainBundle app{makeBundle(home.path(), "Sonvela", "", "Sonvela", kStandInProgram)};
    std::string script = app.path() + "/Resources/getApplicationPid.sh";
};

// A child of the test that only renames itself, under another user id when given one; it ends
// with the test, or at once.
pid_t namedChild(const char* name, uid_t uid, bool endAtOnce) {
    pid_t pid = fork();
    if (pid == 0) {
        if ((uid == getuid() || (setgid(uid) == 0 && setuid(uid) == 0)) &&
            prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && prctl(PR_SET_NAME, name) == 0 && !endAtOnce) {
            pause();
        }
        _exit(0);
    }
    return pid;
}

TEST_F(Processes, ProgramsGetTheirArgumentsUnchangedAnOpenInputAndTheWholeOutput) {
    EXPECT_EQ(runProgram("/usr/bin/printf",
                         {"%s|", "a b", "\"quoted\"", "$(touch gotcha)", "", "*", "José"}),
              "a b|\"quoted\"|$(touch gotcha)||*|José|");
    EXPECT_FALSE(fs::exists("gotcha"));
    EXPECT_EQ(runProgram(home.path() + "/missing", {}), std::nullopt);
    auto sh = [](const char* command) { return runProgram("/bin/sh", {"-c", command}); };
    // cat would end at once on an end of file; it ends only when timeout stops it.
    EXPECT_EQ(sh("timeout 0.2 cat; echo $?"), "124\n");
    EXPECT_EQ(sh("head -c 3000000 /dev/zero; echo end").value_or("").size(), 3000004u);
    EXPECT_EQ(sh("head -c 20000000 /dev/zero"), std::nullopt);
    // A child left holding the output does not keep the caller waiting.
    EXPECT_EQ(sh("echo early; sleep 1000 & echo late"), "early\nlate\n");
}

TEST_F(Processes, ScriptOutputIsCutAtEveryLineEndAndOnlyTheFirstPlainIdIsStopped) {
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
    writeAll(script, "printf '%s' \"$1\"\n");
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Helper; touch gotcha '\"$x"),
              Pids{"Helper; touch gotcha '\"$x"});
    std::string first = startSleeper(), second = startSleeper();
    std::string plain = first + "\n" + second + "\n";
    for (std::string output : {std::string(), "\n" + first + "\n", std::string("abc\n"),
                               first + "x\n", "+" + first, plain}) {
        useStandInScript(output);
        AppUtil::killApplicationByName("Sleeper");
        EXPECT_EQ(isAlive(std::stoi(first)), output != plain) << output;
    }
    EXPECT_TRUE(isAlive(std::stoi(second)));
}

TEST_F(Processes, TheScriptFindsTheUsersLivingProcessesByNamesOfAnyLengthAndNothingElse) {
    for (std::string name :
         {"shortie", "Exactly 15 byte", "A Rather Long Stand-In Name", "Ünïcödé Ständ-In Näme"}) {
        fs::copy_file("/bin/sleep", home.path() + "/" + name);
        std::string pid = startSleeper(home.path() + "/" + name);
        EXPECT_TRUE(eventually([&] { return processName(std::stoi(pid)) != "sh"; }));
        EXPECT_EQ(AppUtil::getApplicationPidsByName(name), Pids{pid}) << name;
        EXPECT_EQ(AppUtil::getApplicationPidsByName(name.substr(0, 15)),
                  name.size() > 15 ? Pids{} : Pids{pid});
    }
    pid_t ours = namedChild("Lookup StandIn", getuid(), false);
    pid_t ended = namedChild("Zombie StandIn", getuid(), true);
    ASSERT_TRUE(eventually([&] {
        return processName(ours) == "Lookup StandIn" && !isAlive(ended) &&
               processName(ended) == "Zombie StandIn";
    }));
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Lookup StandIn"), Pids{std::to_string(ours)});
    for (const char* none : {"Zombie StandIn", "Exactly 15 bytes", "", "No Such Program"}) {
        EXPECT_EQ(AppUtil::getApplicationPidsByName(none), Pids{}) << none;
    }
    if (getuid() != 0) {
        GTEST_SKIP() << "another user's process needs root to be made";
    }
    pid_t theirs = namedChild("Others StandIn", 65534, false);
    ASSERT_TRUE(eventually([&] { return processName(theirs) == "Others StandIn"; }));
    EXPECT_EQ(AppUtil::getApplicationPidsByName("Others StandIn"), Pids{});
}

TEST_F(Processes, TheInstanceLockIsHeldOnce) {
    InstanceLock first("org.example.Tool");
    EXPECT_EQ(first.state(), InstanceLock::State::Taken);
    EXPECT_TRUE(fs::exists(home.path() + "/run/org.example.Tool.lock"));
    // The first descriptor stands for one a launcher handed down.
    fcntl(first.fd(), F_SETFD, 0);
    InstanceLock second("org.example.Tool");
    EXPECT_EQ(second.state(), InstanceLock::State::HeldElsewhere);
    EXPECT_TRUE(second.adoptInherited());
    EXPECT_EQ(fcntl(first.fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
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
    std::string slow = makeBundle(home.path(), "Slow", "org.example.Slow", "Slow", kSlowToStop);
    setenv("SONVELA_LAUNCHED_HIDDEN", "1", 1);
    std::vector<LaunchResult> results(4);
    std::vector<std::jthread> launchers;
    for (LaunchResult& result : results) {
        launchers.emplace_back([&] { result = launchApplication(slow); });
    }
    launchers.clear();
    EXPECT_EQ(std::count(results.begin(), results.end(), LaunchResult::Launched), 1);
    // The mark is ours alone, and taken once.
    EXPECT_TRUE(launchedHidden());
    EXPECT_EQ(std::getenv("SONVELA_LAUNCHED_HIDDEN"), nullptr);
    ASSERT_TRUE(eventually([&] { return startedPids(home.path()).size() == 1; }));
    pid_t pid = startedPids(home.path())[0];
    std::string proc = "/proc/" + std::to_string(pid);
    EXPECT_EQ(getsid(pid), pid) << "its own session";
    EXPECT_EQ(fs::read_symlink(proc + "/cwd").string(), "/");
    EXPECT_EQ(fs::read_symlink(proc + "/fd/0").string(), "/dev/null");
    EXPECT_EQ(readAll(proc + "/environ").find("SONVELA_LAUNCHED_HIDDEN"), std::string::npos);
    EXPECT_EQ(launchApplication(slow), LaunchResult::AlreadyRunning);
    EXPECT_FALSE(InstanceLock("org.example.Slow").adoptInherited()) << "nothing of ours holds it";

    AppUtil::killApplicationByName("Slow");
    EXPECT_FALSE(AppUtil::applicationIsRunning("Slow"));
    EXPECT_EQ(launchApplication(slow), LaunchResult::Launched);
    // Reaped by the launcher: not even a zombie stays.
    EXPECT_TRUE(eventually([&] { return !fs::exists(proc); }));
    EXPECT_TRUE(eventually([&] { return AppUtil::applicationIsRunning("Slow"); }));
}

TEST_F(Processes, ABundleThatNamesNoProgramIsNotLaunched) {
    bundle("Escaping", "../prog");
    fs::remove(bundle("Missing") + "/bin/prog");
    fs::remove(bundle("NoInfo") + "/Info.plist");
    fs::permissions(bundle("Flat") + "/bin/prog", fs::perms(0600));
    for (std::string name : {"Escaping", "Missing", "NoInfo", "Flat", "Nowhere"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(launchApplication(home.path() + "/" + name + ".app"), LaunchResult::Failed)
            << name;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot launch"), std::string::npos);
    }
    EXPECT_TRUE(startedPids(home.path()).empty());
    // Without an identifier nothing tells whether it runs: each launch starts it.
    EXPECT_EQ(launchApplication(bundle("Plain")), LaunchResult::Launched);
    EXPECT_EQ(launchApplication(home.path() + "/Plain.app"), LaunchResult::Launched);
    EXPECT_TRUE(eventually([&] { return startedPids(home.path()).size() == 2; }));
}

const std::string kLoginWindow = SONVELA_APP_DIR "/bin/sonvela-loginwindow";
const ScopeRef user = kCFPreferencesCurrentUser;

// A desktop session of the test's own: its system folder stands in for /etc/xdg.
class LoginWindow : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_DIRS", system.c_str(), 1);
        overrideAnyUserFolderForTesting(system);
        Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    }

    std::size_t starts() { return startedPids(home.path()).size(); }
    // SONVELA_LAUNCHED_HIDDEN as the first stand-in started was given it; "" when it was not.
    std::string hiddenRequest() {
        const std::string name = std::string(1, '\0') + "SONVELA_LAUNCHED_HIDDEN=";
        std::string environment =
            '\0' + readAll("/proc/" + std::to_string(startedPids(home.path())[0]) + "/environ");
        std::size_t at = environment.find(name);
        return at == std::string::npos ? ""
                                       : environment.substr(at + name.size()).c_str(); // to NUL
    }
    std::vector<pid_t> helpers() { return processesNamed(home.path(), "Sonvela Helper"); }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string system = home.path() + "/etc-xdg";
    std::string userEntry = home.configHome() + "/autostart/sonvela-loginwindow.desktop";
    std::string systemEntry = system + "/autostart/sonvela-loginwindow.desktop";
    std::string helper = SONVELA_APP_DIR "/Resources/Sonvela Helper.app";
    std::string standIn = makeBundle(home.path(), "Stand In", "", "Stand In", kStandInProgram);
};

// Sonvela may lie in any folder; the sessions' own parsers must start the login window from
// there: systemd's autostart generator (GNOME, KDE Plasma and others) and GLib.
TEST_F(LoginWindow, EverySessionStartsTheLoginWindowWhereverSonvelaLies) {
    std::string link = home.path() + "/.local/share/sonvela/sonvela-loginwindow";
    mode_t umaskBefore = umask(0);
    int asTheyAre = 2; // the sessions take the first paths as they are; the others get a link
    unsigned char hide = 0;
    for (std::string folder : {"My Apps (old); & <more>", "Mélangeur Ünïcode", "Bob's \"Apps\"",
                               "100% loud", "back\\slash", "$HOME and `id`", "new\nline"}) {
        bool linked = asTheyAre-- <= 0;
        std::string bundle = home.path() + "/" + folder + "/Sonvela.app";
        makeDirs(bundle + "/bin");
        fs::create_symlink(kLoginWindow, bundle + "/bin/sonvela-loginwindow");
        Bundle::overrideMainForTesting(bundle);
        hide = !hide;
        ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, standIn.c_str(), hide));
        EXPECT_EQ(fs::is_symlink(link), linked) << folder;

        EXPECT_EQ(DesktopSession::systemdUnitsThatPass(), 1) << folder;
        EXPECT_TRUE(DesktopSession::launchWithGLib(userEntry)) << folder;
        ASSERT_TRUE(eventually([&] { return starts() == 1; })) << folder;
        EXPECT_EQ(hiddenRequest(), hide ? "1" : "") << folder; // only a hidden item is hidden
        strays.killAll();
        fs::remove(home.path() + "/started");
        // Once Sonvela is moved away, its entry starts nothing.
        EXPECT_EQ(DesktopSession::autostartCommands(),
                  Commands{{linked ? link : bundle + "/bin/sonvela-loginwindow"}})
            << folder;
        fs::rename(bundle, bundle + ".moved");
        EXPECT_EQ(DesktopSession::autostartCommands(), Commands{}) << folder;
        fs::rename(bundle + ".moved", bundle);

        ASSERT_TRUE(RemoveLoginItemAtIndex(user, 0));
        EXPECT_FALSE(fs::exists(userEntry) || fs::is_symlink(link)) << folder;
    }
    umask(umaskBefore);
    // An entry there runs at the user's login: nobody else may put one in.
    for (const std::string& folder : {home.configHome() + "/autostart", home.path() + "/.local"}) {
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    }

    // Where the link would be refused as well, the entry names the login window all the same.
    setenv("XDG_DATA_HOME", (home.path() + "/50% data").c_str(), 1);
    Bundle::overrideMainForTesting(home.path() + "/100% loud/Sonvela.app");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, standIn.c_str(), 0));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no link to it could be made"),
              std::string::npos);
    EXPECT_NE(readAll(userEntry).find("100%%"), std::string::npos);
}

// In the test's own process, where the any-user folder can be moved out of /etc/xdg.
TEST_F(LoginWindow, EachListHasItsEntryAndBothAreStartedEachPathOnce) {
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(user, standIn.c_str(), 0));
    EXPECT_EQ(readAll(userEntry), autostartEntryText(kLoginWindow));
    EXPECT_FALSE(fs::exists(systemEntry));
    // A line break would let a path add lines of its own to the entry.
    for (const char* refused : {"/bad\nline", "/bad\xff"}) {
        EXPECT_EQ(autostartEntryText(refused), std::nullopt);
    }
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, standIn.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, helper.c_str(), 0));
    ASSERT_TRUE(AddLoginItemWithPropertiesToUser(kCFPreferencesAnyUser, "/nowhere/X.app", 0));
    EXPECT_EQ(launchLoginItems(), 1); // /nowhere/X.app
    EXPECT_TRUE(eventually([&] { return helpers().size() == 1 && starts() == 1; }));
    // The user's entry hides the system one of the same name: the login window runs once.
    EXPECT_TRUE(fs::exists(userEntry) && fs::exists(systemEntry));
    EXPECT_EQ(DesktopSession::autostartCommands().size(), 1u);

    // An entry stays while its list has items.
    ASSERT_TRUE(RemoveLoginItemAtIndex(kCFPreferencesAnyUser, 0));
    ASSERT_TRUE(RemoveLoginItemAtIndex(user, 0));
    EXPECT_FALSE(fs::exists(userEntry));
    EXPECT_TRUE(fs::exists(systemEntry));
}

} // namespace
