#include "platform/audio/PulseBackend.h"
#include "shared/VolumeTable.h"
#include "tests/support/Eventually.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/PulseClient.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

using namespace sonvela::test;

namespace {

const SinkSpec kSpeakers{"speakers", "internal", "Speakers"};        // ispk
const SinkSpec kHeadphones{"headphones", "headphone", "Headphones"}; // hdpn
const SinkSpec kTv{"tv", "tv", "TV"};                                // hdmi
const SinkSpec kLineOut{"lineout", "hifi", "Line Out"};              // line

using Table = std::map<std::string, double>;

std::string plistOf(const Table& table) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [type, volume] : table) {
        xml << "\t<key>" << type << "</key>\n\t<real>" << volume << "</real>\n";
    }
    xml << "</dict>\n</plist>\n";
    return xml.str();
}

// One private sound server and the built helper running against it, in a temporary home.
class HelperEndToEnd : public testing::Test {
protected:
    // Starts the server with the first sink as the default, then the helper, and waits for the
    // helper's restore at start-up.
    void start(std::vector<SinkSpec> sinks, const Table& table) {
        writeTable(table);
        server = SoundServer::make(SONVELA_SOUND_SERVER, home.path() + "/server", std::move(sinks));
        server->start();
        client = std::make_unique<PulseClient>(server->address());
        helper =
            std::make_unique<HelperProcess>(SONVELA_HELPER_PATH, home.path(), server->address());
        ASSERT_TRUE(eventually([&] { return helper->restores().size() == 1; })) << helper->log();
    }

    void writeTable(const Table& table, const std::string& file = "config.plist") {
        makeDirs(home.configHome() + "/Sonvela");
        writeAll(home.configHome() + "/Sonvela/" + file, plistOf(table));
    }

    bool sinkIs(const std::string& name, double volume, bool muted) {
        auto state = client->sink(name);
        return state && std::abs(state->volume - volume) < 1e-4 && state->muted == muted;
    }

    std::string describe(const std::string& name) {
        auto state = client->sink(name);
        std::ostringstream text;
        text << name << ": ";
        if (state) {
            text << "volume " << state->volume << (state->muted ? ", muted" : ", not muted");
        } else {
            text << "not found";
        }
        text << "\ndefault sink: " << server->defaultSink();
        text << "\nhelper " << (helper->process().running() ? "running" : "ended");
        return text.str() + "\nhelper log:\n" + helper->log() + "\nserver log:\n" + server->log();
    }

    // kill -9 of the server, and a start once the helper has noticed.
    void killAndRestartServer() {
        client.reset();
        server->kill();
        ASSERT_TRUE(eventually([&] {
            return helper->log().find("lost the connection to the sound server: ") !=
                   std::string::npos;
        })) << helper->log();
        server->start();
        client = std::make_unique<PulseClient>(server->address());
    }

    // Makes the sink the default and waits for the helper's restore line for it.
    void switchTo(const SinkSpec& sink, const std::string& logged) {
        ASSERT_TRUE(client->setDefaultSink(sink.name)) << client->lastError();
        ASSERT_TRUE(eventually([&] {
            auto lines = helper->restores();
            return !lines.empty() && lines.back() == logged;
        })) << describe(sink.name);
    }

    TempHome home;
    std::unique_ptr<SoundServer> server;
    std::unique_ptr<PulseClient> client;
    std::unique_ptr<HelperProcess> helper;
};

struct SwitchCase {
    const char* name;
    Table table;
    SinkSpec target;
    double volumeBefore;
    bool mutedBefore;
    double volumeAfter;
    bool mutedAfter;
    const char* logged;
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
    *os << c.name;
}

class Switch : public HelperEndToEnd, public testing::WithParamInterface<SwitchCase> {};

// Volumes that PulseAudio holds exactly (n / 65536), so the logged fraction is predictable.
// clang-format off
const SwitchCase kSwitchCases[] = {
    {"StoredVolume", {{"hdpn", 0.75}}, kHeadphones, 0.25, false, 0.75, false, "hdpn 0.750000"},
    {"StoredVolumeClearsAMute", {{"hdpn", 0.75}}, kHeadphones, 0.25, true, 0.75, false,
     "hdpn 0.750000"},
    {"StoredAboveOneIsCapped", {{"hdpn", 1.5}}, kHeadphones, 0.25, false, 1.0, false,
     "hdpn 1.500000"},
    {"IgnoredTypeKeepsItsVolume", {{"hdpn", 0.75}, {"ispk", 0.5}}, kSpeakers, 0.375, false, 0.375,
     false, "ispk 0.375000"},
    {"IgnoredTypeClearsAMute", {{"hdpn", 0.75}}, kSpeakers, 0.375, true, 0.375, false,
     "ispk 0.375000"},
    // Mixers go up to 153 %: boosted speakers keep their boost, although they read as 100 %.
    {"IgnoredTypeKeepsItsBoost", {{"hdpn", 0.75}}, kSpeakers, 1.5, false, 1.5, false,
     "ispk 1.000000"},
    {"NoEntryStaysMutedAtItsVolume", {{"hdmi", 0.5}}, kHeadphones, 0.25, false, 0.25, true,
     "hdpn 0.000000"},
    {"StoredZeroStaysMutedAtItsVolume", {{"hdpn", 0.0}}, kHeadphones, 0.25, false, 0.25, true,
     "hdpn 0.000000"},
};
// clang-format on

TEST_P(Switch, GivesTheOutputItsVolume) {
    const SwitchCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start({kTv, kSpeakers, kHeadphones}, c.table));
    // Set as another program would; the helper does not react to volume or mute changes.
    ASSERT_TRUE(client->setVolume(c.target.name, float(c.volumeBefore)));
    ASSERT_TRUE(client->setMute(c.target.name, c.mutedBefore));
    ASSERT_TRUE(eventually([&] { return sinkIs(c.target.name, c.volumeBefore, c.mutedBefore); }));
    ASSERT_TRUE(client->watch(c.target.name));

    ASSERT_NO_FATAL_FAILURE(switchTo(c.target, c.logged));

    EXPECT_TRUE(sinkIs(c.target.name, c.volumeAfter, c.mutedAfter)) << describe(c.target.name);
    // Muted in between, also where it ends as it began; the switch itself changes no sink.
    EXPECT_GE(client->changesSeen(), 1);
}

INSTANTIATE_TEST_SUITE_P(HelperEndToEnd, Switch, testing::ValuesIn(kSwitchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HelperEndToEnd, RecreatesADeletedTableFromTheDefault) {
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers, kHeadphones}, {{"hdpn", 0.75}}));
    std::filesystem::remove(home.configPlist());
    const std::string defaults = SONVELA_HELPER_BUNDLE_DIR "/Resources/DefaultConfig.plist";
    float expected = VolumeTable::storedVolume(defaults, "hdpn").value();
    char logged[32];
    std::snprintf(logged, sizeof logged, "hdpn %f", double(expected));

    ASSERT_NO_FATAL_FAILURE(switchTo(kHeadphones, logged));

    EXPECT_EQ(readAll(home.configPlist()), readAll(defaults));
    EXPECT_TRUE(sinkIs(kHeadphones.name, expected, false)) << describe(kHeadphones.name);
}

TEST_F(HelperEndToEnd, AfterTheServerWasKilledReconnectsRestoresAndHearsSwitches) {
    ASSERT_NO_FATAL_FAILURE(start({kHeadphones, kSpeakers}, {{"hdpn", 0.75}}));
    ASSERT_TRUE(sinkIs(kHeadphones.name, 0.75, false)) << describe(kHeadphones.name);
    // Read at the next restore only, so the new value shows that one ran.
    writeTable({{"hdpn", 0.5}});

    ASSERT_NO_FATAL_FAILURE(killAndRestartServer());

    ASSERT_TRUE(eventually([&] {
        return sinkIs(kHeadphones.name, 0.5, false) && helper->restores().back() == "hdpn 0.500000";
    })) << describe(kHeadphones.name);
    EXPECT_TRUE(helper->process().running());

    server->switchDefault(kSpeakers.name);
    EXPECT_TRUE(eventually([&] { return helper->restores().back() == "ispk 1.000000"; }))
        << describe(kSpeakers.name);
}

TEST_F(HelperEndToEnd, StartedBeforeTheServerItWaitsQuietlyAndRestoresWhenItComes) {
    writeTable({{"hdpn", 0.75}});
    server = SoundServer::make(SONVELA_SOUND_SERVER, home.path() + "/server", {kHeadphones});
    helper = std::make_unique<HelperProcess>(SONVELA_HELPER_PATH, home.path(), server->address());
    ASSERT_TRUE(eventually([&] { return !helper->log().empty(); }));

    server->start();
    client = std::make_unique<PulseClient>(server->address());
    ASSERT_TRUE(eventually([&] { return sinkIs(kHeadphones.name, 0.75, false); }))
        << describe(kHeadphones.name);
    EXPECT_EQ(helper->log().find("Unable to mute device."), std::string::npos) << helper->log();
    EXPECT_NE(helper->log().find("no sound server to connect to yet"), std::string::npos);
    EXPECT_EQ(helper->log().find("sound server"), helper->log().rfind("sound server"))
        << "one line about it: " << helper->log();
}

TEST_F(HelperEndToEnd, AWriteToAServerThatHangsGivesUpWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers}, {}));
    setenv("PULSE_SERVER", server->address().c_str(), 1);
    auto backend = platform::audio::makeBackend<platform::audio::PulseBackend>();
    platform::audio::AudioDeviceID speakers = 0;
    ASSERT_EQ(backend->defaultOutput(speakers), platform::audio::Result::Ok);
    server->freeze(true);

    std::atomic<bool> returned = false;
    std::thread writer([&] {
        backend->setMuted(speakers, true);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned) << "the write waits for the server";
    backend->giveUpWaiting();
    writer.join();
    server->freeze(false);
}

TEST_F(HelperEndToEnd, ACeilingHoldsWhoeverTurnsTheOutputUp) {
    writeTable({{"hdpn", 0.6}}, "ceilings.plist");
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers, kHeadphones}, {{"hdpn", 0.75}}));
    ASSERT_NO_FATAL_FAILURE(switchTo(kHeadphones, "hdpn 0.750000"));
    EXPECT_TRUE(sinkIs(kHeadphones.name, 0.6, false)) << describe(kHeadphones.name);
    EXPECT_NE(helper->log().find("ceiling for hdpn: 0.600000"), std::string::npos);

    // What one write shows as on this server, to count the helper's writes by.
    ASSERT_TRUE(client->watch(kHeadphones.name));
    ASSERT_TRUE(client->setVolume(kHeadphones.name, 0.5f));
    ASSERT_TRUE(eventually([&] { return client->changesSeen() > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int perWrite = client->changesSeen();

    ASSERT_TRUE(client->watch(kHeadphones.name));
    ASSERT_TRUE(client->setVolume(kHeadphones.name, 0.9f));
    EXPECT_TRUE(eventually([&] {
        return sinkIs(kHeadphones.name, 0.6, false) && client->changesSeen() >= 2 * perWrite;
    })) << describe(kHeadphones.name);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(client->changesSeen(), 2 * perWrite) << "one write of the helper's per rise";

    ASSERT_TRUE(client->setVolume(kHeadphones.name, 0.3f));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(sinkIs(kHeadphones.name, 0.3, false)) << describe(kHeadphones.name);
    EXPECT_EQ(helper->restores().size(), 2u) << "volume changes start no restore";
}

TEST_F(HelperEndToEnd, ManyQuickSwitchesEndRightForTheLastOutput) {
    const std::vector<SinkSpec> sinks = {kSpeakers, kTv, kHeadphones, kLineOut};
    ASSERT_NO_FATAL_FAILURE(start(sinks, {{"hdpn", 0.75}, {"hdmi", 0.5}, {"line", 0.625}}));
    ASSERT_TRUE(client->setVolume(kSpeakers.name, 0.375f));

    // 200 switches, not waiting for the helper, ending on the headphones.
    for (int i = 1; i <= 200; ++i) {
        ASSERT_TRUE(client->setDefaultSink(sinks[i % 3].name)) << client->lastError();
    }
    ASSERT_EQ(sinks[200 % 3].name, kHeadphones.name);
    ASSERT_TRUE(eventually([&] {
        return sinkIs(kHeadphones.name, 0.75, false) &&
               helper->restores().back() == "hdpn 0.750000";
    })) << describe(kHeadphones.name);

    // The line out had no part in the burst: its restore comes after every restore of it.
    ASSERT_NO_FATAL_FAILURE(switchTo(kLineOut, "line 0.625000"));
    EXPECT_TRUE(sinkIs(kHeadphones.name, 0.75, false)) << describe(kHeadphones.name);
    // No restore was split between two outputs: none is left muted or with another's volume.
    // The TV may have been the default too briefly for the helper to see it.
    EXPECT_TRUE(sinkIs(kTv.name, 0.5, false) || sinkIs(kTv.name, 1.0, false)) << describe(kTv.name);
    EXPECT_TRUE(sinkIs(kSpeakers.name, 0.375, false)) << describe(kSpeakers.name);
}

TEST_F(HelperEndToEnd, OwnWritesStartNoRestore) {
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers, kTv, kHeadphones}, {{"hdpn", 0.75}, {"hdmi", 0.5}}));
    std::vector<std::string> expected = {"ispk 1.000000"};

    // Each switch waits for the one before to settle; an extra restore would show up between.
    for (int i = 0; i < 10; ++i) {
        bool headphones = i % 2 == 0;
        expected.push_back(headphones ? "hdpn 0.750000" : "hdmi 0.500000");
        ASSERT_NO_FATAL_FAILURE(switchTo(headphones ? kHeadphones : kTv, expected.back()));
    }
    expected.push_back("ispk 1.000000");
    ASSERT_NO_FATAL_FAILURE(switchTo(kSpeakers, expected.back()));

    EXPECT_EQ(helper->restores(), expected);
}

TEST_F(HelperEndToEnd, StopsInTheMiddleOfABurstLeavingNothingMuted) {
    const std::vector<SinkSpec> sinks = {kSpeakers, kTv, kHeadphones};
    ASSERT_NO_FATAL_FAILURE(start(sinks, {{"hdpn", 0.75}, {"hdmi", 0.5}}));

    for (int i = 1; i <= 200; ++i) {
        ASSERT_TRUE(client->setDefaultSink(sinks[i % 3].name)) << client->lastError();
        if (i == 100) {
            helper->process().signal(SIGTERM);
        }
    }

    EXPECT_EQ(helper->process().waitForExit(std::chrono::seconds(10)), 0) << helper->log();
    for (const SinkSpec& sink : sinks) {
        auto state = client->sink(sink.name);
        ASSERT_TRUE(state);
        EXPECT_FALSE(state->muted) << describe(sink.name);
    }
}

} // namespace
