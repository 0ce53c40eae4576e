#include "platform/fs/FileManager.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform::fs;
using namespace sonvela::test;

namespace {

// Another thread reads the path over and over while `act` runs: all it may find there is one
// of the versions whole, or nothing.
void expectWholeReadsDuring(const std::string& path, const std::vector<std::string>& versions,
                            const std::function<void()>& act) {
    std::atomic<bool> done = false;
    std::atomic<int> reads = 0, partial = 0;
    std::thread reader([&] {
        for (; !done; ++reads) {
            std::string seen = exists(path) ? readAll(path) : versions.front();
            partial += std::find(versions.begin(), versions.end(), seen) == versions.end();
        }
    });
    while (reads == 0) {
        std::this_thread::yield();
    }
    act();
    done = true;
    reader.join();
    EXPECT_EQ(partial, 0) << path;
}

TEST(FileManager, RacingCopiesLeaveOneWholeFileAndNeverReplaceOne) {
    TempHome home;
    const std::string folder = home.path() + "/race/", target = folder + "target";
    std::vector<std::string> versions;
    makeDirs(folder);
    for (char name = '0'; name < '4'; ++name) {
        versions.push_back(std::string(2 << 20, name));
        writeAll(folder + name, versions.back());
    }
    // Rounds, so that a reader is sure to look while some copy is on its way.
    for (int round = 0; round < 10; ++round) {
        unlink(target.c_str());
        std::atomic<int> copies = 0;
        expectWholeReadsDuring(target, versions, [&] {
            std::vector<std::jthread> copiers;
            for (char name = '0'; name < '4'; ++name) {
                copiers.emplace_back([&, name] { copies += copyItem(folder + name, target); });
            }
        });
        EXPECT_EQ(copies, 1);
    }
    EXPECT_EQ(listDir(folder).size(), 5u); // no temporary file left
}

// One writer lives through it all while others are killed as they write: no clean-up may take
// its temporary file; the next write removes what the killed ones left and keeps the mode.
TEST(FileManager, KilledWritersLeaveNothingThatReadersOrTheNextWriteWouldSee) {
    TempHome home;
    const std::string folder = home.path() + "/k", path = folder + "/file";
    const std::string bytes(256 << 10, 'x');
    makeDirs(folder);
    ASSERT_TRUE(writeFileAtomically(path, bytes));
    chmod(path.c_str(), 0640);
    std::atomic<bool> stop = false, steadyWrote = true;
    std::jthread steady([&] {
        while (!stop) {
            steadyWrote = writeFileAtomically(path, bytes) && steadyWrote;
        }
    });
    expectWholeReadsDuring(path, {bytes}, [&] {
        for (int i = 0; i < 40; ++i) {
            pid_t victim = fork();
            while (victim == 0) {
                writeFileAtomically(path, bytes);
            }
            usleep(1000 + 1000 * (i % 5));
            kill(victim, SIGKILL);
            waitpid(victim, nullptr, 0);
        }
    });
    stop = true;
    steady.join();
    EXPECT_TRUE(steadyWrote);
    ASSERT_TRUE(writeFileAtomically(path, "last"));
    EXPECT_EQ(listDir(folder), std::vector<std::string>{"file"});
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u, 0640u);
}

// A read-change-write whose file another program created or replaced since the read writes
// nothing: the other program's change stays.
TEST(FileManager, AWriteOfWhatWasReadLeavesAFileThatCameMeanwhile) {
    TempHome home;
    const std::string path = home.path() + "/file";
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "first", std::nullopt), WriteOutcome::Written);
    std::optional<FileIdentity> read = identityAt(path);
    ASSERT_TRUE(writeFileAtomically(path, "theirs"));
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "ours", read), WriteOutcome::Changed);
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "ours", std::nullopt), WriteOutcome::Changed);
    EXPECT_EQ(readAll(path), "theirs");
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "ours", identityAt(path)),
              WriteOutcome::Written);
    EXPECT_EQ(readAll(path), "ours");
}

} // namespace
