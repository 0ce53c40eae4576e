#include "platform/prefs/Preferences.h"
#include "platform/loginwindow/AutostartEntry.h"
#include "platform/names/ProductNames.h"
#include "platform/plist/PlistFile.h"
#include "platform/process/ApplicationLauncher.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace plist = platform::plist;
using namespace platform::prefs;
using namespace sonvela::test;

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
    std::filesystem::remove(file + ".corrupt");

    // Another program that takes no lock keeps swapping the file between a valid list and junk
    // while we save: only ever the junk that was read may be moved aside, never a valid list.
    const std::string valid = home.path() + "/valid", junk = home.path() + "/junk";
    const std::string next = home.path() + "/next";
    ASSERT_TRUE(plist::writeXmlAtomically(valid, plist::Dictionary{{"Theirs", 1}}));
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

} // namespace
