#include "platform/fs/FileManager.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform::fs;
using sonvela::test::listDir;
using sonvela::test::makeDirs;
using sonvela::test::readAll;
using sonvela::test::TempHome;
using sonvela::test::writeAll;

namespace {

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

} // namespace

TEST(FileManager, ExistsAndCreateDirectory) {
    TempHome home;
    std::string base = home.path() + "/";
    ASSERT_EQ(symlink((base + "nowhere").c_str(), (base + "dangling").c_str()), 0);
    EXPECT_TRUE(exists(base + "dangling"));
    EXPECT_FALSE(exists(base + "nowhere"));
    EXPECT_TRUE(createDirectory(base + "one"));
    EXPECT_TRUE(exists(base + "one"));
    EXPECT_FALSE(createDirectory(base + "one"));
    EXPECT_FALSE(createDirectory(base + "two/three"));
}

TEST(FileManager, WriteFileAtomicallyReplacesAndKeepsTheOldMode) {
    TempHome home;
    std::string folder = home.path() + "/w";
    makeDirs(folder);
    std::string path = folder + "/file";
    ASSERT_TRUE(writeFileAtomically(path, std::string("first\0", 6)));
    EXPECT_EQ(readAll(path), std::string("first\0", 6));
    EXPECT_EQ(modeOf(path), 0644u);
    chmod(path.c_str(), 0600);
    ASSERT_TRUE(writeFileAtomically(path, "second"));
    EXPECT_EQ(readAll(path), "second");
    EXPECT_EQ(modeOf(path), 0600u);

    // Failed writes leave no temporary file either.
    makeDirs(folder + "/taken");
    EXPECT_FALSE(writeFileAtomically(folder + "/taken", "x"));
    EXPECT_FALSE(writeFileAtomically(folder + "/missing/file", "x"));
    EXPECT_FALSE(writeFileAtomically(folder + "/", "x"));
    EXPECT_EQ(readAll(path), "second");
    EXPECT_EQ(listDir(folder).size(), 2u);
}

TEST(FileManager, ReadersNeverSeeAHalfWrittenFile) {
    TempHome home;
    std::string path = home.path() + "/file";
    const std::string versions[] = {randomBytes(1 << 20, 1), randomBytes(1 << 20, 2)};
    ASSERT_TRUE(writeFileAtomically(path, versions[0]));
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int i = 1; i <= 20; ++i) {
            EXPECT_TRUE(writeFileAtomically(path, versions[i % 2]));
        }
        done = true;
    });
    int partialReads = 0;
    while (!done) {
        std::string seen = readAll(path);
        partialReads += seen != versions[0] && seen != versions[1];
    }
    writer.join();
    EXPECT_EQ(partialReads, 0);
}

TEST(FileManager, CopyItemCopiesEveryByteAndNeverReplacesAnything) {
    TempHome home;
    std::string base = home.path() + "/c/";
    makeDirs(base + "folder");
    std::string bytes = randomBytes(1 << 20, 1);
    writeAll(base + "source", bytes);
    ASSERT_TRUE(copyItem(base + "source", base + "copy"));
    EXPECT_EQ(readAll(base + "copy"), bytes);
    EXPECT_FALSE(copyItem(base + "missing", base + "other"));
    EXPECT_FALSE(copyItem(base + "folder", base + "other"));
    EXPECT_FALSE(exists(base + "other"));

    writeAll(base + "file", "old");
    writeAll(base + "empty", "");
    ASSERT_EQ(symlink((base + "nowhere").c_str(), (base + "dangling").c_str()), 0);
    for (const char* target : {"file", "empty", "folder", "dangling"}) {
        EXPECT_FALSE(copyItem(base + "source", base + target)) << target;
    }
    EXPECT_EQ(readAll(base + "file"), "old");
    EXPECT_EQ(readAll(base + "empty"), "");
    EXPECT_FALSE(exists(base + "nowhere"));
    EXPECT_FALSE(exists(base + "folder/source"));
    EXPECT_EQ(listDir(base).size(), 6u); // no temporary file left behind
}

TEST(FileManager, RacingCopiesLeaveOneWholeFile) {
    TempHome home;
    std::string folder = home.path() + "/race";
    makeDirs(folder + "/sources");
    constexpr int kCopies = 8;
    std::vector<std::string> contents;
    for (int i = 0; i < kCopies; ++i) {
        contents.push_back(randomBytes(2 << 20, i + 10));
        writeAll(folder + "/sources/" + std::to_string(i), contents.back());
    }
    std::string target = folder + "/target";
    std::atomic<bool> done = false;
    std::atomic<int> partialReads = 0;
    std::thread reader([&] {
        while (!done) {
            // Once the target exists it stays, so whatever is read after that must be whole.
            if (exists(target) &&
                std::find(contents.begin(), contents.end(), readAll(target)) == contents.end()) {
                ++partialReads;
            }
        }
    });
    std::atomic<int> successes = 0;
    std::vector<std::thread> copiers;
    for (int i = 0; i < kCopies; ++i) {
        copiers.emplace_back([&, i] {
            successes += copyItem(folder + "/sources/" + std::to_string(i), target) ? 1 : 0;
        });
    }
    for (std::thread& t : copiers) {
        t.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(successes, 1);
    EXPECT_EQ(partialReads, 0);
    EXPECT_NE(std::find(contents.begin(), contents.end(), readAll(target)), contents.end());
    EXPECT_EQ(listDir(folder).size(), 2u); // sources and target, no temporary files
}

TEST(FileManager, WhatAKilledWriterLeavesTheNextWriteRemoves) {
    TempHome home;
    std::string folder = home.path() + "/k";
    makeDirs(folder);
    std::string path = folder + "/file";
    std::string stop = home.path() + "/stop";
    const std::string bytes = randomBytes(256 << 10, 3);
    // One writer lives through it all: no clean-up may ever take its temporary file.
    pid_t steady = fork();
    if (steady == 0) {
        bool written = true;
        while (!exists(stop)) {
            written = writeFileAtomically(path, bytes) && written;
        }
        _exit(written ? 0 : 1);
    }
    std::mt19937 random(4);
    for (int i = 0; i < 40; ++i) {
        pid_t victim = fork();
        if (victim == 0) {
            while (true) {
                writeFileAtomically(path, bytes);
            }
        }
        usleep(1000 + random() % 5000);
        kill(victim, SIGKILL);
        waitpid(victim, nullptr, 0);
    }
    writeAll(stop, "");
    int status = -1;
    waitpid(steady, &status, 0);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(writeFileAtomically(path, "last"));
    EXPECT_EQ(listDir(folder), std::vector<std::string>{"file"});
}
