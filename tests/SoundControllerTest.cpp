#include "shared/SoundController.h"

#include "tests/support/SimulatedAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace platform::audio;
using Call = SimulatedBackend::Call;
using sonvela::test::SimulatedAudio;

namespace {

SoundController& controller() {
    return *SoundController::getInstance();
}

const float kBelowThreshold = std::nextafter(0.001f, 0.0f);
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// What the user or the helper does, with a volume where it takes one.
using Action = void (*)(float);
const Action kSet = [](float volume) { controller().setHardwareVolume(volume); };
const Action kIncrease = [](float) { controller().increaseVolume(); };
const Action kDecrease = [](float) { controller().decreaseVolume(); };
const Action kLimit = [](float volume) { controller().limitHardwareVolume(volume); };

struct Case {
    const char* name;
    float startVolume;
    bool startMuted;
    Action action;
    float value;
    float volumeAfter; // NaN: expect NaN
    bool mutedAfter;
    std::optional<Call> failing = std::nullopt;
    std::size_t alerts = 0;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class Write : public testing::TestWithParam<Case> {};

TEST_P(Write, LeavesTheDeviceAsExpected) {
    SimulatedAudio audio;
    const Case& c = GetParam();
    AudioDeviceID id = audio.output("hdpn", c.startVolume, c.startMuted);
    if (c.failing) {
        audio.backend->fail(*c.failing);
    }

    c.action(c.value);
    auto device = *audio.backend->device(id);
    if (std::isnan(c.volumeAfter)) {
        EXPECT_TRUE(std::isnan(device.volume));
    } else {
        EXPECT_FLOAT_EQ(device.volume, c.volumeAfter);
    }
    EXPECT_EQ(device.muted, c.mutedAfter);
    EXPECT_EQ(audio.alerts, std::vector<std::string>(c.alerts, "Unable to mute device."));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, Write, testing::Values(
    Case{"NegativeMutes", 0.4f, false, kSet, -0.5f, 0.4f, true},
    Case{"MinusInfinityMutes", 0.4f, false, kSet, -kInf, 0.4f, true},
    Case{"BelowThresholdMutes", 0.4f, false, kSet, kBelowThreshold, 0.4f, true},
    // The float nearest 0.001 lies just above it.
    Case{"NearestToThresholdIsAVolume", 0.4f, true, kSet, 0.001f, 0.001f, false},
    Case{"AboveOneIsClamped", 0.2f, true, kSet, 1.5f, 1.0f, false},
    Case{"InfinityIsClamped", 0.2f, false, kSet, kInf, 1.0f, false},
    Case{"NaNIsWrittenUnclamped", 0.2f, true, kSet, kNaN, kNaN, false},
    Case{"RejectedVolumeLeavesTheMute", 0.3f, true, kSet, 0.8f, 0.3f, true, Call::SetVolume},
    Case{"RejectedMuteAlertsOnce", 0.3f, false, kSet, 0.0f, 0.3f, false, Call::SetMuted, 1},
    Case{"RejectedStepChangesNothing", 0.3f, false, kDecrease, 0, 0.3f, false, Call::SetVolume},
    Case{"StepDownToZeroMutes", 0.0625f, false, kDecrease, 0, 0.0625f, true},
    Case{"StepUpUnmutes", 0.0625f, true, kIncrease, 0, 0.125f, false},
    Case{"StepUpStopsAtOne", 0.97f, false, kIncrease, 0, 1.0f, false},
    Case{"StepUpFromAnUnreadableVolume", 0.5f, true, kIncrease, 0, 0.0625f, false, Call::Volume},
    Case{"LimitLowersAndLeavesTheMute", 0.9f, true, kLimit, 0.6f, 0.6f, true},
    Case{"LimitNeverRaises", 0.3f, false, kLimit, 0.6f, 0.3f, false},
    Case{"LimitBelowTheThresholdMutes", 0.3f, false, kLimit, 0.0005f, 0.3f, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(SoundController, VolumeReadsOnlyValuesInRange) {
    const std::pair<float, float> cases[] = {
        {1.2f, 0.0f}, {-0.1f, 0.0f}, {1.0f, 1.0f}, {0.0f, 0.0f}, {0.37f, 0.37f}};
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.0f);
    for (const auto& [reported, expected] : cases) {
        audio.backend->changeVolume(id, reported);
        EXPECT_FLOAT_EQ(controller().getHardwareVolume(), expected) << reported;
    }
    audio.backend->changeVolume(id, kNaN);
    EXPECT_TRUE(std::isnan(controller().getHardwareVolume()));
    audio.backend->fail(Call::Volume);
    EXPECT_EQ(controller().getHardwareVolume(), 0.0f);
}

TEST(SoundController, EachCallActsOnTheDefaultOfItsOwnMomentOrTheLastOneFound) {
    SimulatedAudio audio;
    AudioDeviceID speakers = audio.output("ispk", 0.5f);
    AudioDeviceID headphones = audio.output("hdpn", 0.2f);
    controller().setHardwareVolume(0.7f);
    audio.backend->setDefaultDevice(speakers);
    controller().setHardwareVolume(0.9f);
    EXPECT_FLOAT_EQ(audio.backend->device(headphones)->volume, 0.7f);
    EXPECT_FLOAT_EQ(audio.backend->device(speakers)->volume, 0.9f);

    audio.backend->fail(Call::DefaultOutput);
    controller().setHardwareVolume(0.25f);
    EXPECT_EQ(controller().getOutputDeviceID(), speakers);
    EXPECT_FLOAT_EQ(audio.backend->device(speakers)->volume, 0.25f);
}

TEST(SoundController, ToggleFlipsByWhatItDidLastNotByTheDevice) {
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.5f, true);
    // Each ctest case runs in a process of its own, so this is the first toggle.
    controller().toggleMute();
    EXPECT_TRUE(audio.backend->device(id)->muted);
    controller().toggleMute();
    EXPECT_FALSE(audio.backend->device(id)->muted);
    audio.backend->fail(Call::SetMuted);
    controller().toggleMute(); // fails, flips all the same
    audio.backend->fail(Call::SetMuted, false);
    controller().toggleMute();
    EXPECT_FALSE(audio.backend->device(id)->muted);
    EXPECT_TRUE(audio.alerts.empty());
}

TEST(SoundController, ThreadsRacingTheFirstSharedInstanceGetOne) {
    std::vector<std::thread> threads;
    std::vector<SoundController*> seen(16);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] {
            seen[i] =
                i % 2 ? SoundController::sharedSoundController() : SoundController::getInstance();
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(std::set<SoundController*>(seen.begin(), seen.end()).size(), 1u);
}

} // namespace
