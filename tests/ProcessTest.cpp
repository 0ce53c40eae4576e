#include "platform/process/ApplicationLauncher.h"
#include "platform/process/InstanceLock.h"
#include "platform/process/ProgramRunner.h"
#include "tests/support/Eventually.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"
#include "tests/support/TestBundle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform::process;
using namespace sonvela::test;

namespace {

// Fields after the name in /proc/<pid>/stat: state, parent, group, session, ...
std::vector<std::string> statFields(pid_t pid) {
    std::string stat = readAll("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) {
        fields.push_back(field);
    }
    return fields;
}

std::string linkOf(const std::string& path) {
    std::error_code ec;
    return fs::read_symlink(path, ec).string();
}

class Processes : public testing::Test {
protected:
    TempHome home;
    StrayProcesses strays{home.path()};
};

TEST_F(Processes, ArgumentsReachTheProgramUnchanged) {
    std::vector<std::string> arguments = {"%s|", "a b", "\"quoted\"", "$(touch gotcha)",
                                          "",    "*",   "José"};
    EXPECT_EQ(runProgram("/usr/bin/printf", arguments), "a b|\"quoted\"|$(touch gotcha)||*|José|");
    EXPECT_FALSE(fs::exists("gotcha"));
    EXPECT_EQ(runProgram(home.path() + "/missing", {}), std::nullopt);
}

TEST_F(Processes, StandardInputStaysOpenAndOutputIsReadToTheEnd) {
    // cat would end at once on an end of file; it ends only when timeout stops it.
    EXPECT_EQ(runProgram("/bin/sh", {"-c", "timeout 0.2 cat; echo $?"}), "124\n");
    auto big = runProgram("/bin/sh", {"-c", "head -c 3000000 /dev/zero; echo end"});
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size(), 3000004u);
    EXPECT_EQ(runProgram("/bin/sh", {"-c", "head -c 20000000 /dev/zero"}), std::nullopt);
}

TEST_F(Processes, AChildLeftHoldingTheOutputDoesNotKeepTheCallerWaiting) {
    EXPECT_EQ(runProgram("/bin/sh", {"-c", "echo early; sleep 1000 & echo late"}), "early\nlate\n");
}

TEST_F(Processes, TheInstanceLockIsHeldOnce) {
    InstanceLock first("org.example.Tool");
    EXPECT_EQ(first.state(), InstanceLock::State::Taken);
    EXPECT_TRUE(fs::exists(home.path() + "/run/org.example.Tool.lock"));
    {
        // The first descriptor stands for one a launcher handed down.
        InstanceLock second("org.example.Tool");
        EXPECT_EQ(second.state(), InstanceLock::State::HeldElsewhere);
        EXPECT_TRUE(second.adoptInherited());
        EXPECT_EQ(fcntl(first.fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    }
    // Held by another process: nothing of ours holds it.
    std::string path = *InstanceLock::pathFor("org.example.Busy");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open(path.c_str(), O_RDONLY | O_CREAT, 0600);
        flock(fd, LOCK_EX);
        if (write(ready[1], "x", 1) != 1) {
            _exit(1);
        }
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    {
        InstanceLock busy("org.example.Busy");
        EXPECT_EQ(busy.state(), InstanceLock::State::HeldElsewhere);
        EXPECT_FALSE(busy.adoptInherited());
    }
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(InstanceLock("org.example.Busy").state(), InstanceLock::State::Taken);

    for (const char* refused : {"", "../escape", ".hidden", "a/b"}) {
        EXPECT_EQ(InstanceLock(refused).state(), InstanceLock::State::Unavailable) << refused;
    }
    unsetenv("XDG_RUNTIME_DIR");
    if (!fs::is_directory("/run/user/" + std::to_string(getuid()))) {
        EXPECT_EQ(InstanceLock("org.example.Other").state(), InstanceLock::State::Unavailable);
    }
}

TEST_F(Processes, ALaunchedApplicationRunsOnItsOwn) {
    std::string bundle =
        makeBundle(home.path(), "Stand In", "org.example.StandIn", "Stand In", kStandInProgram);
    ASSERT_EQ(launchApplication(bundle), LaunchResult::Launched);
    ASSERT_TRUE(eventually([&] { return startedPids(home.path()).size() == 1; }));
    pid_t pid = startedPids(home.path()).front();
    ASSERT_TRUE(eventually([&] { return processName(pid) == "sleep"; }));

    std::vector<std::string> stat = statFields(pid);
    EXPECT_EQ(stat.at(3), std::to_string(pid)) << "its own session";
    EXPECT_EQ(linkOf("/proc/" + std::to_string(pid) + "/cwd"), "/");
    EXPECT_EQ(linkOf("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");
    EXPECT_EQ(readAll("/proc/" + std::to_string(pid) + "/environ").find("SONVELA_LAUNCHED_HIDDEN"),
              std::string::npos);

    EXPECT_EQ(launchApplication(bundle), LaunchResult::AlreadyRunning);
    kill(pid, SIGKILL);
    // Reaped by the launcher: not even a zombie stays.
    EXPECT_TRUE(eventually([&] { return !fs::exists("/proc/" + std::to_string(pid)); }));
    EXPECT_EQ(launchApplication(bundle), LaunchResult::Launched);
    EXPECT_TRUE(eventually([&] { return startedPids(home.path()).size() == 2; }));
}

TEST_F(Processes, LaunchesAtTheSameMomentStartOneCopy) {
    std::string bundle =
        makeBundle(home.path(), "Stand In", "org.example.StandIn", "Stand In", kStandInProgram);
    std::vector<LaunchResult> results(4);
    std::vector<std::thread> launchers;
    for (LaunchResult& result : results) {
        launchers.emplace_back([&result, &bundle] { result = launchApplication(bundle); });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    EXPECT_EQ(std::count(results.begin(), results.end(), LaunchResult::Launched), 1);
    ASSERT_TRUE(eventually([&] { return startedPids(home.path()).size() == 1; }));
    pid_t pid = startedPids(home.path()).front();
    EXPECT_TRUE(eventually([&] { return processName(pid) == "sleep"; }));
    EXPECT_EQ(startedPids(home.path()).size(), 1u);
}

// The launch itself is checked end to end in LoginWindowTest.
TEST_F(Processes, TheHiddenMarkIsTakenOnce) {
    setenv("SONVELA_LAUNCHED_HIDDEN", "1", 1);
    EXPECT_TRUE(launchedHidden());
    EXPECT_EQ(std::getenv("SONVELA_LAUNCHED_HIDDEN"), nullptr);
}

TEST_F(Processes, ABundleThatNamesNoProgramIsNotLaunched) {
    std::string plain = makeBundle(home.path(), "Plain", "", "prog", kStandInProgram);
    std::string escaping = makeBundle(home.path(), "Escaping", "", "../prog", kStandInProgram);
    std::string missing = makeBundle(home.path(), "Missing", "", "prog", kStandInProgram);
    fs::remove(missing + "/bin/prog");
    std::string notExecutable = makeBundle(home.path(), "Flat", "", "prog", kStandInProgram);
    fs::permissions(notExecutable + "/bin/prog", fs::perms::owner_read | fs::perms::owner_write);
    std::string noInfo = makeBundle(home.path(), "NoInfo", "", "prog", kStandInProgram);
    fs::remove(noInfo + "/Info.plist");

    for (const std::string& bundle :
         {escaping, missing, notExecutable, noInfo, home.path() + "/Nowhere.app"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(launchApplication(bundle), LaunchResult::Failed) << bundle;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot launch"), std::string::npos);
    }
    EXPECT_TRUE(startedPids(home.path()).empty());
    // Without an identifier nothing tells whether it runs: each launch starts it.
    EXPECT_EQ(launchApplication(plain), LaunchResult::Launched);
    EXPECT_TRUE(eventually([&] { return startedPids(home.path()).size() == 1; }));
}

} // namespace
