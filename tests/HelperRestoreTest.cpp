#include "helper/Sonvela_HelperAppDelegate.h"

#include "platform/bundle/Bundle.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace platform::audio;
using sonvela::test::SimulatedAudio;
using sonvela::test::TempHome;
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
    void SetUp() override {
        bundle = home.path() + "/Sonvela Helper.app";
        sonvela::test::makeDirs(bundle + "/Resources");
        fs::copy_file(SONVELA_SOURCE_DIR "/resources/DefaultConfig.plist",
                      bundle + "/Resources/DefaultConfig.plist");
        platform::bundle::Bundle::overrideMainForTesting(bundle);
    }
    void TearDown() override { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }

    void writeTable(const std::string& bytes) {
        sonvela::test::makeDirs(home.configHome() + "/Sonvela");
        sonvela::test::writeAll(home.configPlist(), bytes);
    }

    // Runs one restore and gives back what it logged.
    std::string restore() {
        testing::internal::CaptureStderr();
        delegate.checkAudioDeviceDataSource();
        return testing::internal::GetCapturedStderr();
    }

    TempHome home;
    SimulatedAudio audio;
    Sonvela_HelperAppDelegate delegate;
    std::string bundle;
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
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class RestoreCases : public Restore, public testing::WithParamInterface<Case> {};

TEST_P(RestoreCases, SetsTheStoredVolume) {
    const Case& c = GetParam();
    writeTable(c.table);
    AudioDeviceID id = audio.output(c.type, c.volume, c.muted);

    std::string log = restore();

    auto device = *audio.backend->device(id);
    EXPECT_FLOAT_EQ(device.volume, c.volumeAfter);
    EXPECT_EQ(device.muted, c.mutedAfter);
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    // Every restore mutes first, whatever it sets afterwards.
    auto writes = audio.backend->writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().selector, kAudioDevicePropertyMute);
    EXPECT_EQ(writes.front().value, 1u);
}

const std::string kStored = "<key>ispk</key><real>0.9</real><key>hdpn</key>";

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreCases,
    testing::Values(
        Case{"IgnoredKeepsItsVolume", "ispk", 0.4f, false, tableWith(kStored + "<real>0.2</real>"),
             0.4f, false, "output type: ispk, volume: 0.400000\n"},
        Case{"IgnoredClearsUsersMute", "ispk", 0.4f, true, tableWith(""), 0.4f, false,
             "volume: 0.400000"},
        Case{"IgnoredNearSilenceStaysMuted", "ispk", 0.0005f, false, tableWith(""), 0.0005f, true,
             "volume: 0.000500"},
        Case{"StoredVolume", "hdpn", 0.2f, false, tableWith(kStored + "<real>0.75</real>"), 0.75f,
             false, "output type: hdpn, volume: 0.750000\n"},
        Case{"StoredVolumeClearsUsersMute", "hdpn", 0.2f, true,
             tableWith(kStored + "<real>0.5</real>"), 0.5f, false, "volume: 0.500000"},
        Case{"AboveOneIsClampedButLoggedAsStored", "hdpn", 0.2f, false,
             tableWith(kStored + "<real>1.5</real>"), 1.0f, false, "volume: 1.500000"},
        Case{"HugeIsClamped", "hdpn", 0.2f, false, tableWith(kStored + "<real>1e30</real>"), 1.0f,
             false, "hdpn, volume: 1000000015047466219876688855040.000000"},
        Case{"WholeNumber", "hdpn", 0.2f, false, tableWith(kStored + "<integer>1</integer>"), 1.0f,
             false, "volume: 1.000000"},
        Case{"NumericText", "hdpn", 0.2f, false, tableWith(kStored + "<string>0.6</string>"), 0.6f,
             false, "volume: 0.600000"},
        Case{"ZeroStaysMuted", "hdpn", 0.2f, false, tableWith(kStored + "<real>0</real>"), 0.2f,
             true, "volume: 0.000000"},
        Case{"NegativeStaysMuted", "hdpn", 0.2f, false, tableWith(kStored + "<real>-0.3</real>"),
             0.2f, true, "volume: -0.300000"},
        Case{"NaNIsNoEntry", "hdpn", 0.2f, false, tableWith(kStored + "<real>nan</real>"), 0.2f,
             true, "volume: 0.000000"},
        Case{"TextIsNoEntry", "hdpn", 0.2f, false, tableWith(kStored + "<string>loud</string>"),
             0.2f, true, "volume: 0.000000"},
        Case{"ArrayIsNoEntry", "hdpn", 0.2f, false, tableWith(kStored + "<array/>"), 0.2f, true,
             "volume: 0.000000"},
        Case{"NoEntryStaysMuted", "hdmi", 0.2f, false, tableWith(kStored + "<real>0.5</real>"),
             0.2f, true, "output type: hdmi, volume: 0.000000"},
        Case{"EmptyFile", "hdpn", 0.2f, false, "", 0.2f, true, "volume: 0.000000"},
        Case{"Truncated", "hdpn", 0.2f, false,
             tableWith(kStored + "<real>0.5</real>").substr(0, 90), 0.2f, true, "volume: 0.000000"},
        Case{"Garbage", "hdpn", 0.2f, false, "bplist00\xff\xfe\x01garbage", 0.2f, true,
             "volume: 0.000000"},
        Case{"RootNotADictionary", "hdpn", 0.2f, false, plistWith("<array><real>1</real></array>"),
             0.2f, true, "volume: 0.000000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Restore, MissingTableIsCopiedFromTheBundleAndUsed) {
    AudioDeviceID id = audio.output("hdpn", 0.9f);
    std::string log = restore();
    EXPECT_EQ(sonvela::test::readAll(home.configPlist()),
              sonvela::test::readAll(bundle + "/Resources/DefaultConfig.plist"));
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.35f);
    EXPECT_FALSE(audio.backend->device(id)->muted);

    // Deleted while running: the next restore brings it back.
    fs::remove(home.configPlist());
    restore();
    EXPECT_TRUE(fs::exists(home.configPlist()));
}

TEST_F(Restore, UnusableTablePathsAreLeftAloneAndKeepTheOutputMuted) {
    const std::string unreadable[] = {"folder", "dangling symlink", "10 MB", "deep nesting"};
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    for (const std::string& kind : unreadable) {
        fs::remove_all(home.configPlist());
        sonvela::test::makeDirs(home.configHome() + "/Sonvela");
        if (kind == "folder") {
            fs::create_directory(home.configPlist());
        } else if (kind == "dangling symlink") {
            fs::create_symlink(home.path() + "/nowhere", home.configPlist());
        } else if (kind == "10 MB") {
            writeTable(
                tableWith("<key>hdpn</key><real>0.5</real>" + std::string(10 * 1024 * 1024, ' ')));
        } else {
            std::string deep;
            for (int i = 0; i < 100000; ++i) {
                deep += "<array>";
            }
            writeTable(plistWith(deep));
        }
        audio.backend->setMuted(id, false);
        std::string log = restore();
        EXPECT_NE(log.find("volume: 0.000000"), std::string::npos) << kind;
        EXPECT_TRUE(audio.backend->device(id)->muted) << kind;
        EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.3f) << kind;
        EXPECT_TRUE(fs::exists(fs::symlink_status(home.configPlist()))) << kind;
    }
}

TEST_F(Restore, NoTableWhereNoneCanBeMade) {
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    fs::remove(bundle + "/Resources/DefaultConfig.plist");
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

TEST_F(Restore, UnreadableOutputTypeIsLoggedPrintably) {
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    audio.backend->failCalls(kAudioDevicePropertyDataSource, SimulatedBackend::Access::Get,
                             kAudioHardwareUnspecifiedError);
    std::string log = restore();
    EXPECT_NE(log.find("output type: ????, volume: 0.000000"), std::string::npos) << log;
    EXPECT_TRUE(audio.backend->device(id)->muted);
}

TEST_F(Restore, StartUpRestoresOnceThenOncePerNotification) {
    writeTable(tableWith("<key>hdpn</key><real>0.6</real><key>hdmi</key><real>0.8</real>"));
    AudioDeviceID headphones = audio.output("hdpn", 0.1f);
    AudioDeviceID tv = audio.backend->addDevice(fourCharCode("hdmi"), 0.1f);

    testing::internal::CaptureStderr();
    delegate.applicationDidFinishLaunching();
    audio.backend->waitUntilIdle();
    audio.backend->setDefaultDevice(tv);
    audio.backend->waitUntilIdle();
    audio.backend->setDefaultDevice(headphones);
    audio.backend->waitUntilIdle();
    std::string log = testing::internal::GetCapturedStderr();
    delegate.unregisterListenerForAudioDevice();

    std::size_t restores = 0;
    for (std::size_t at = log.find("output type:"); at != std::string::npos;
         at = log.find("output type:", at + 1)) {
        ++restores;
    }
    EXPECT_EQ(restores, 3u) << log;
    EXPECT_FLOAT_EQ(audio.backend->device(tv)->volume, 0.8f);
    EXPECT_FLOAT_EQ(audio.backend->device(headphones)->volume, 0.6f);
    EXPECT_FALSE(audio.backend->device(headphones)->muted);
}

TEST_F(Restore, ListenerThatCannotBeRegisteredIsLogged) {
    testing::internal::CaptureStderr();
    delegate.unregisterListenerForAudioDevice();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("unregister listener error!"), std::string::npos);
    EXPECT_TRUE(Sonvela_HelperAppDelegate::isIgnored(std::string("ispk")));
    EXPECT_FALSE(Sonvela_HelperAppDelegate::isIgnored(std::string("ISPK")));
    EXPECT_FALSE(Sonvela_HelperAppDelegate::isIgnored(std::nullopt));
}

} // namespace
