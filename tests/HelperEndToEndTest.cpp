#include "tests/support/HelperEndToEnd.h"
#include "platform/audio/PulseBackend.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <mutex>
#include <thread>

using namespace sonvela::test;
using namespace std::chrono_literals;
namespace audio = platform::audio;

namespace {

struct SwitchCase {
    const char* name;
    Table table;
    SinkSpec target;
    double volumeBefore, volumeAfter;
    bool mutedBefore, mutedAfter;
    const char* logged;
    Table ceilings = {};
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
    *os << c.name;
}

class Switch : public HelperEndToEnd, public testing::WithParamInterface<SwitchCase> {};

// Each target starts at a volume and mute another program set. Volumes that the servers hold
// exactly (n / 65536), so the logged fraction is predictable. Mixers go up to 153 %: boosted
// speakers keep their boost, although they read as 100 %.
// clang-format off
const SwitchCase kSwitchCases[] = {
    {"StoredVolumeClearsAMute", {{"hdpn", 0.75}}, kHeadphones, 0.25, 0.75, true, false, "hdpn 0.750000"},
    {"NoEntryMutesAndKeepsItsVolume", {{"hdmi", 0.5}}, kHeadphones, 0.25, 0.25, false, true, "hdpn 0.000000"},
    {"IgnoredTypeKeepsItsBoost", {{"ispk", 0.5}}, kSpeakers, 1.5, 1.5, true, false, "ispk 1.000000"},
    {"ACeilingOfFullVolumeCutsABoost", {{"ispk", 0.5}}, kSpeakers, 1.5, 1.0, true, false, "ispk 1.000000",
     {{"ispk", 1.0}}},
};
// clang-format on

TEST_P(Switch, GivesTheOutputItsVolume) {
    const SwitchCase& c = GetParam();
    writeTable(c.ceilings, "ceilings.plist");
    ASSERT_NO_FATAL_FAILURE(start({kTv, kSpeakers, kHeadphones}, c.table));
    ASSERT_TRUE(client->setVolume(c.target.name, float(c.volumeBefore)));
    ASSERT_TRUE(client->setMute(c.target.name, c.mutedBefore));
    ASSERT_TRUE(eventually([&] { return sinkIs(c.target, c.volumeBefore, c.mutedBefore); }));

    ASSERT_NO_FATAL_FAILURE(switchTo(c.target, c.logged));
    // PipeWire may answer a write before the sink shows it.
    EXPECT_TRUE(eventually([&] { return sinkIs(c.target, c.volumeAfter, c.mutedAfter); }))
        << describe(c.target);
}

INSTANTIATE_TEST_SUITE_P(HelperEndToEnd, Switch, testing::ValuesIn(kSwitchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HelperEndToEnd, AfterTheServerWasKilledReconnectsRestoresAndHearsSwitches) {
    ASSERT_NO_FATAL_FAILURE(start({kHeadphones, kSpeakers}, {{"hdpn", 0.75}}));
    // Read at the next restore only, so the new value shows that one ran.
    writeTable({{"hdpn", 0.5}});
    client.reset();
    server->kill();
    ASSERT_TRUE(eventually([&] {
        return helper->log().find("lost the connection to the sound server: ") != std::string::npos;
    })) << helper->log();
    server->start();
    client = PulseClient::tryConnect(server->address());

    ASSERT_TRUE(eventually([&] {
        return sinkIs(kHeadphones, 0.5, false) && helper->restores().back() == "hdpn 0.500000";
    })) << describe(kHeadphones);
    // Past the helper's look at the server a second after reconnecting: only the server's
    // events can tell it of this switch.
    std::this_thread::sleep_for(1500ms);
    ASSERT_NO_FATAL_FAILURE(switchTo(kSpeakers, "ispk 1.000000"));
}

TEST_F(HelperEndToEnd, StartedBeforeTheServerItWaitsQuietlyAndRestoresWhenItComes) {
    writeTable({{"hdpn", 0.75}});
    server = SoundServer::make(SONVELA_SOUND_SERVER, home.path() + "/server", {kHeadphones});
    startHelper();
    ASSERT_TRUE(eventually([&] { return !helper->log().empty(); }));

    server->start();
    client = PulseClient::tryConnect(server->address());
    ASSERT_TRUE(eventually([&] {
        return sinkIs(kHeadphones, 0.75, false) && !helper->restores().empty();
    })) << describe(kHeadphones);
    std::string log = helper->log();
    EXPECT_EQ(log.find("Unable to mute device."), std::string::npos) << log;
    EXPECT_EQ(helper->restores(), std::vector<std::string>{"hdpn 0.750000"}) << "none before";
    EXPECT_NE(log.find("no sound server to connect to yet"), std::string::npos) << log;
    EXPECT_EQ(log.find("sound server"), log.rfind("sound server")) << "one line about it";
}

TEST_F(HelperEndToEnd, ABurstEndsRightAndAStopInTheNextLeavesNothingMuted) {
    const std::vector<SinkSpec> sinks = {kSpeakers, kTv, kHeadphones};
    ASSERT_NO_FATAL_FAILURE(start(sinks, {{"hdpn", 0.75}, {"hdmi", 0.5}}));
    ASSERT_TRUE(client->setVolume(kSpeakers.name, 0.375f));
    // Not waiting for the helper, ending on the headphones.
    for (int i = 1; i <= 200; ++i) {
        ASSERT_TRUE(client->setDefaultSink(sinks[i % 3].name));
    }
    ASSERT_TRUE(eventually([&] {
        return sinkIs(kHeadphones, 0.75, false) && helper->restores().back() == "hdpn 0.750000";
    })) << describe(kHeadphones);
    // No restore was split between two outputs: none is left muted or with another's volume.
    // The TV may have been the default too briefly for the helper to see it. PipeWire's events
    // may come late: the headphones' restore seen may not be the last one.
    EXPECT_TRUE(eventually([&] { return sinkIs(kTv, 0.5, false) || sinkIs(kTv, 1.0, false); }))
        << describe(kTv);
    EXPECT_TRUE(eventually([&] { return sinkIs(kSpeakers, 0.375, false); })) << describe(kSpeakers);

    for (int i = 1; i <= 200; ++i) {
        ASSERT_TRUE(client->setDefaultSink(sinks[i % 3].name));
        if (i == 100) {
            helper->process().signal(SIGTERM);
        }
    }
    EXPECT_EQ(helper->process().waitForExit(10s), 0) << helper->log();
    for (const SinkSpec& sink : sinks) {
        EXPECT_FALSE(client->sink(sink.name)->muted) << describe(sink);
    }
}

TEST_F(HelperEndToEnd, ACeilingHoldsWhoeverTurnsTheOutputUp) {
    writeTable({{"hdpn", 0.6}}, "ceilings.plist");
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers, kHeadphones}, {{"hdpn", 0.75}}));
    ASSERT_NO_FATAL_FAILURE(switchTo(kHeadphones, "hdpn 0.750000"));
    EXPECT_TRUE(eventually([&] { return sinkIs(kHeadphones, 0.6, false); }))
        << describe(kHeadphones);
    EXPECT_NE(helper->log().find("ceiling for hdpn: 0.600000"), std::string::npos);
    // Past the moment after the restore in which a change would be set back. The user mutes
    // them: the guard changes the volume alone.
    std::this_thread::sleep_for(1600ms);
    ASSERT_TRUE(client->setMute(kHeadphones.name, true));

    // What one write shows as on this server, to count the helper's writes by.
    auto eventsOfSetting = [&](float volume, double settlesAt) {
        client->watch(kHeadphones.name);
        client->setVolume(kHeadphones.name, volume);
        bool settled = eventually([&] { return sinkIs(kHeadphones, settlesAt, true); });
        std::this_thread::sleep_for(300ms);
        return settled ? client->changesSeen() : -1;
    };
    const int perWrite = eventsOfSetting(0.5f, 0.5);
    EXPECT_EQ(eventsOfSetting(0.9f, 0.6), 2 * perWrite) << "one write of the helper's per rise";
    EXPECT_EQ(eventsOfSetting(0.3f, 0.3), perWrite) << describe(kHeadphones);
    EXPECT_EQ(helper->restores().size(), 2u) << "volume changes start no restore";

    // A mixer's boost past full volume is cut by a ceiling of full volume, which it lies above.
    writeTable({{"hdpn", 1.0}}, "ceilings.plist");
    ASSERT_TRUE(client->setVolume(kHeadphones.name, 1.3f));
    EXPECT_TRUE(eventually([&] { return sinkIs(kHeadphones, 1.0, true); }))
        << describe(kHeadphones);
}

// Another program sets the volume of a sink some time after a restore, as a Bluetooth headset
// pushes its own right after it connects. The first change of the restored output soon after
// its restore is set back once, with a line; every other change stays. Pushed volumes that the
// servers hold exactly, so the logged fraction is predictable.
struct Push {
    const SinkSpec* switchTo; // and its restore, or none
    const char* restored;
    std::chrono::milliseconds after;
    const SinkSpec* pushed;
    double volume, volumeAfter;
    bool muted;                     // by the user before the push; a set-back leaves it so
    const char* setBack;            // the line, %d for its milliseconds; none when the change stays
    const char* storedAs = nullptr; // set in Sonvela's window, which stores it first
};

// clang-format off
const Push kPushes[] = {
    {&kHeadphones, "hdpn 0.750000", 200ms, &kHeadphones, 0.875, 0.75, true,
     "hdpn: 0.875000 pushed by the device %d ms after the restore; set back to 0.750000"},
    {nullptr, "", 0ms, &kHeadphones, 0.5, 0.5, true, nullptr}, // the second: the user's
    // Another output: neither set back nor held under its ceiling.
    {&kTv, "hdmi 0.500000", 150ms, &kHeadphones, 0.9, 0.9, true, nullptr},
    // The moment moved with the restore; the ceiling holds.
    {nullptr, "", 0ms, &kTv, 0.875, 0.4, false,
     "hdmi: 0.875000 pushed by the device %d ms after the restore; set back to 0.400000"},
    {&kHeadphones, "hdpn 0.750000", 200ms, &kHeadphones, 0.625, 0.625, false, nullptr, "hdpn"},
    {&kSpeakers, "ispk 1.000000", 200ms, &kSpeakers, 0.9, 0.9, false, nullptr}, // its own volume
    {&kHeadphones, "hdpn 0.625000", 1700ms, &kHeadphones, 0.3, 0.3, false, nullptr}, // too late
};
// clang-format on

TEST_F(HelperEndToEnd, ADevicesPushRightAfterARestoreIsSetBackOnce) {
    writeTable({{"hdmi", 0.4}, {"hdpn", 0.8}}, "ceilings.plist");
    Table table = {{"hdpn", 0.75}, {"hdmi", 0.5}};
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers, kHeadphones, kTv}, table));
    const std::string setBack = " pushed by the device ";
    for (const Push& push : kPushes) {
        SCOPED_TRACE(&push - kPushes);
        if (push.switchTo) {
            ASSERT_NO_FATAL_FAILURE(switchTo(*push.switchTo, push.restored));
            std::this_thread::sleep_for(push.after);
        }
        const std::size_t before = helper->messages(setBack).size();
        if (push.storedAs) {
            table[push.storedAs] = push.volume;
            writeTable(table);
        }
        ASSERT_TRUE(client->setMute(push.pushed->name, push.muted));
        ASSERT_TRUE(client->setVolume(push.pushed->name, float(push.volume)));
        if (push.setBack) {
            ASSERT_TRUE(eventually([&] { return helper->messages(setBack).size() > before; }))
                << describe(*push.pushed);
            std::string line = helper->messages(setBack).back();
            int ms = std::atoi(line.c_str() + line.find(setBack) + setBack.size());
            std::string expected = push.setBack;
            EXPECT_EQ(line, expected.replace(expected.find("%d"), 2, std::to_string(ms)));
            // The restore ended before its line was seen.
            EXPECT_GE(ms, push.after.count());
            EXPECT_LE(ms, 1500);
        } else {
            // Time for a wrong set-back to show.
            std::this_thread::sleep_for(300ms);
        }
        EXPECT_TRUE(eventually([&] { return sinkIs(*push.pushed, push.volumeAfter, push.muted); }))
            << describe(*push.pushed);
        EXPECT_EQ(helper->messages(setBack).size(), before + (push.setBack ? 1 : 0))
            << helper->log();
    }
    EXPECT_EQ(helper->restores().size(), 6u) << "volume changes start no restore";
}

TEST_F(HelperEndToEnd, AWriteToAServerThatHangsGivesUpWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers}, {}));
    setenv("PULSE_SERVER", server->address().c_str(), 1);
    auto backend = audio::makeBackend<audio::PulseBackend>();
    audio::AudioDeviceID speakers = 0;
    ASSERT_EQ(backend->defaultOutput(speakers), audio::Result::Ok);
    server->freeze(true);
    auto write = std::async(std::launch::async, [&] { backend->setMuted(speakers, true); });
    EXPECT_EQ(write.wait_for(200ms), std::future_status::timeout) << "it waits for the server";
    backend->giveUpWaiting();
    // Well before libpulse would give up by itself, after 30 s.
    EXPECT_EQ(write.wait_for(10s), std::future_status::ready);
    server->freeze(false);
}

// A listener that switches the default output in the middle of its work, as a user can.
struct Switching {
    PulseClient* client;
    std::once_flag once;
    // The default output as the listener began, and as it ended.
    std::promise<std::pair<audio::AudioDeviceID, audio::AudioDeviceID>> seen;
};

audio::OSStatus switchMidway(audio::AudioObjectID, std::uint32_t,
                             const audio::AudioObjectPropertyAddress*, void* data) {
    auto& s = *static_cast<Switching*>(data);
    auto defaultOutput = [] {
        audio::AudioDeviceID device = 0;
        audio::currentBackend()->defaultOutput(device);
        return device;
    };
    std::call_once(s.once, [&] {
        audio::AudioDeviceID began = defaultOutput();
        s.client->setDefaultSink(kTv.name);
        // Writes run the loop, so the mirror hears of the switch meanwhile.
        for (int i = 0; i < 20; ++i) {
            audio::currentBackend()->setMuted(began, i % 2 == 0);
        }
        s.seen.set_value({began, defaultOutput()});
    });
    return 0;
}

TEST_F(HelperEndToEnd, AListenerActsOnTheOutputItBeganWith) {
    ASSERT_NO_FATAL_FAILURE(start({kSpeakers, kHeadphones, kTv}, {}));
    setenv("PULSE_SERVER", server->address().c_str(), 1);
    audio::useBackend(audio::makeBackend<audio::PulseBackend>());
    auto other = PulseClient::tryConnect(server->address());
    Switching switching{other.get(), {}, {}};
    auto seen = switching.seen.get_future();
    // Gone before `switching`: the loop thread may be delivering to it, and the backend waits
    // for that thread.
    struct Uninstall {
        ~Uninstall() { audio::useBackend(nullptr); }
    } uninstall;
    const audio::AudioObjectPropertyAddress every{audio::kAudioObjectPropertySelectorWildcard,
                                                  audio::kAudioObjectPropertyScopeWildcard,
                                                  audio::kAudioObjectPropertyElementWildcard};
    audio::addPropertyListener(audio::kAudioObjectSystemObject, &every, switchMidway, &switching);
    ASSERT_TRUE(client->setDefaultSink(kHeadphones.name));
    ASSERT_EQ(seen.wait_for(10s), std::future_status::ready);
    auto [began, ended] = seen.get();
    EXPECT_EQ(ended, began);
}

} // namespace
