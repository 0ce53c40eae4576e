#include "helper/Sonvela_HelperAppDelegate.h"

#include "tests/support/Eventually.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace platform::audio;
using namespace sonvela::test;
namespace fs = std::filesystem;

namespace {

std::string plistWith(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
           "\n</plist>\n";
}

std::string tableWith(const std::string& entries) {
    return plistWith("<dict>" + entries + "</dict>");
}

// A helper bundle of our own with the shipped default table, and a temporary home.
class Restore : public testing::Test {
protected:
    void writeTable(const std::string& bytes) {
        makeDirs(home.configHome() + "/Sonvela");
        writeAll(home.configPlist(), bytes);
    }

    // Runs one restore and gives back what it logged.
    std::string restore() {
        testing::internal::CaptureStderr();
        delegate.checkAudioDeviceDataSource();
        return testing::internal::GetCapturedStderr();
    }

    TempHome home;
    MainBundle helperBundle{home.path() + "/Sonvela Helper.app"};
    SimulatedAudio audio;
    Sonvela_HelperAppDelegate delegate;
};

struct Case {
    const char* name;
    const char* type;
    float volume;
    bool muted;
    std::string table;
    float volumeAfter;
    bool mutedAfter;
    const char* logged;
    std::string ceilings = ""; // ceilings.plist, when there is one
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class RestoreCases : public Restore, public testing::WithParamInterface<Case> {};

TEST_P(RestoreCases, SetsTheStoredVolume) {
    const Case& c = GetParam();
    writeTable(c.table);
    if (!c.ceilings.empty()) {
        writeAll(home.configHome() + "/Sonvela/ceilings.plist", c.ceilings);
    }
    AudioDeviceID id = audio.output(c.type, c.volume, c.muted);

    std::string log = restore();

    auto device = *audio.backend->device(id);
    EXPECT_FLOAT_EQ(device.volume, c.volumeAfter);
    EXPECT_EQ(device.muted, c.mutedAfter);
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    // Every restore mutes first, whatever it sets afterwards.
    auto writes = audio.backend->writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().call, SimulatedBackend::Call::SetMuted);
    EXPECT_TRUE(writes.front().muted);
}

const std::string kStored = "<key>ispk</key><real>0.9</real><key>hdpn</key>";
const std::string kPhones75 = tableWith("<key>hdpn</key><real>0.75</real>");

// The headphones, at 0.2 and not muted, with the given entry stored for them.
Case stored(const char* name, const std::string& entry, float after, bool muted, const char* log) {
    return {name, "hdpn", 0.2f, false, tableWith(kStored + entry), after, muted, log};
}

// The headphones at 0.2 with 0.75 stored for them, under the given ceiling.
Case ceiling(const char* name, const std::string& body, float after, bool muted, const char* log) {
    std::string ceilings = body.empty() ? "garbage" : tableWith("<key>hdpn</key>" + body);
    return {name, "hdpn", 0.2f, false, kPhones75, after, muted, log, ceilings};
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, RestoreCases, testing::Values(
    Case{"IgnoredNearSilenceStaysMuted", "ispk", 0.0005f, false, tableWith(""), 0.0005f, true,
         "volume: 0.000500"},
    stored("StoredVolume", "<real>0.75</real>", 0.75f, false, "output type: hdpn, volume: 0.750000\n"),
    stored("NegativeStaysMuted", "<real>-0.3</real>", 0.2f, true, "volume: -0.300000"),
    stored("TextIsNoEntry", "<string>loud</string>", 0.2f, true, "volume: 0.000000"),
    stored("TooLargeAFileIsNoTable", "<real>0.5</real>" + std::string(10 * 1024 * 1024, ' '), 0.2f, true,
           ": larger than 4 MiB"),
    stored("IntegerAboveAnyIsAboveOne", "<integer>99999999999999999999</integer>", 1.0f, false, "volume: inf"),
    Case{"EmptyFile", "hdpn", 0.2f, false, "", 0.2f, true, "volume: 0.000000"},
    Case{"Garbage", "hdpn", 0.2f, false, "bplist00\xff\xfe\x01garbage", 0.2f, true, "volume: 0.000000"},
    Case{"RootNotADictionary", "hdpn", 0.2f, false, plistWith("<array><real>1</real></array>"), 0.2f,
         true, "volume: 0.000000"},
    ceiling("CeilingAboveTheVolumeChangesNothing", "<real>0.9</real>", 0.75f, false, "volume: 0.750000\n"),
    ceiling("CeilingBelowTheThresholdMutes", "<real>0.0005</real>", 0.2f, true, "ceiling for hdpn: 0.000500"),
    ceiling("CeilingOutsideZeroToOneIsNone", "<real>1.5</real>", 0.75f, false, "volume: 0.750000\n"),
    ceiling("NegativeCeilingIsNone", "<real>-0.5</real>", 0.75f, false, "volume: 0.750000\n"),
    ceiling("UnreadableCeilingsAreNone", "", 0.75f, false, "ceilings.plist: not a property list")),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(Restore, UnusableTablePathsAreLeftAloneAndKeepTheOutputMuted) {
    const std::pair<std::string, std::string> unreadable[] = {
        {"folder", "not a regular file"}, {"dangling symlink", "No such file or directory"}};
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    for (const auto& [kind, reason] : unreadable) {
        fs::remove_all(home.configPlist());
        makeDirs(home.configHome() + "/Sonvela");
        if (kind == "folder") {
            fs::create_directory(home.configPlist());
        } else {
            fs::create_symlink(home.path() + "/nowhere", home.configPlist());
        }
        audio.backend->changeMuted(id, false);
        std::string log = restore();
        EXPECT_NE(log.find("volume: 0.000000"), std::string::npos) << kind;
        // Said once for this file, not at every restore.
        EXPECT_NE(log.find("cannot read " + home.configPlist() + ": " + reason), std::string::npos)
            << log;
        EXPECT_EQ(restore().find("cannot read"), std::string::npos) << kind;
        EXPECT_TRUE(audio.backend->device(id)->muted) << kind;
        EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.3f) << kind;
        EXPECT_TRUE(fs::exists(fs::symlink_status(home.configPlist()))) << kind;
    }
}

TEST_F(Restore, WithoutADefaultTableNoneIsMadeAndTheOutputStaysMuted) {
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    fs::remove(helperBundle.path() + "/Resources/DefaultConfig.plist");
    restore();
    EXPECT_FALSE(fs::exists(home.configPlist()));
    EXPECT_TRUE(audio.backend->device(id)->muted);

    // The data folder's parent is missing: nothing is created on the way.
    setenv("XDG_CONFIG_HOME", (home.path() + "/missing/config").c_str(), 1);
    restore();
    EXPECT_FALSE(fs::exists(home.path() + "/missing"));

    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    std::string log = restore();
    EXPECT_NE(log.find("output type: hdpn, volume: 0.000000"), std::string::npos);
}

// Another output becomes the default while a notified restore runs, at each of its calls in
// turn: the restore ends on the output it began with, and the switch gets a restore of its own.
TEST_F(Restore, ANotifiedRestoreNeverActsOnTwoOutputs) {
    using Call = SimulatedBackend::Call;
    writeTable(tableWith("<key>hdpn</key><real>0.75</real><key>hdmi</key><real>0.5</real>"));
    AudioDeviceID phones = audio.output("hdpn", 0.2f);
    AudioDeviceID tv = audio.backend->addDevice(fourCharCode("hdmi"), 0.9f);
    delegate.registerListenerForAudioDevice();
    for (Call during : {Call::OutputType, Call::Volume, Call::SetMuted, Call::SetVolume}) {
        audio.backend->setDefaultDevice(phones);
        audio.backend->waitUntilIdle();
        audio.backend->changeVolume(phones, 0.2f);
        audio.backend->changeVolume(tv, 0.9f);
        audio.backend->waitUntilIdle();
        audio.backend->clearWrites();

        audio.backend->duringNext(during, [&] { audio.backend->setDefaultDevice(tv); });
        audio.backend->notify();
        audio.backend->waitUntilIdle();

        auto writes = audio.backend->writes();
        ASSERT_EQ(writes.size(), 6u) << int(during);
        for (std::size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].device, i < 3 ? phones : tv) << int(during) << ", write " << i;
        }
        EXPECT_FLOAT_EQ(audio.backend->device(phones)->volume, 0.75f) << int(during);
        EXPECT_FLOAT_EQ(audio.backend->device(tv)->volume, 0.5f) << int(during);
        EXPECT_FALSE(audio.backend->device(phones)->muted || audio.backend->device(tv)->muted);
    }
    delegate.unregisterListenerForAudioDevice();
}

TEST_F(Restore, AStopDoesNotWaitForAServerThatStoppedAnswering) {
    writeTable(tableWith("<key>hdpn</key><real>0.75</real>"));
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    audio.backend->hang(SimulatedBackend::Call::SetVolume);
    std::thread restoring([&] { delegate.checkAudioDeviceDataSource(); });
    ASSERT_TRUE(eventually([&] { return audio.backend->device(id)->muted; }));

    testing::internal::CaptureStderr();
    delegate.finishRestores();
    std::string log = testing::internal::GetCapturedStderr();
    restoring.join();
    EXPECT_NE(log.find("the last restore was cut short and the output may stay muted"),
              std::string::npos)
        << log;
    EXPECT_TRUE(audio.backend->device(id)->muted);
}

TEST_F(Restore, UnreadableOutputTypeIsLoggedPrintably) {
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    audio.backend->fail(SimulatedBackend::Call::OutputType);
    std::string log = restore();
    EXPECT_NE(log.find("output type: ????, volume: 0.000000"), std::string::npos) << log;
    EXPECT_TRUE(audio.backend->device(id)->muted);
}

TEST_F(Restore, ListenerThatCannotBeRegisteredIsLogged) {
    testing::internal::CaptureStderr();
    delegate.unregisterListenerForAudioDevice();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("unregister listener error!"), std::string::npos);
    EXPECT_FALSE(Sonvela_HelperAppDelegate::isIgnored(std::string("ISPK")));
}

} // namespace
