#include "shared/SoundController.h"

#include "tests/support/SimulatedAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <thread>

using namespace platform::audio;
using Call = SimulatedBackend::Call;
using sonvela::test::SimulatedAudio;

namespace {

SoundController& controller() {
    return *SoundController::getInstance();
}

const float kNearestToThreshold = 0.001f; // the float nearest 0.001 lies just above it
const float kBelowThreshold = std::nextafter(0.001f, 0.0f);
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct SetCase {
    const char* name;
    float startVolume;
    bool startMuted;
    float set;
    float volumeAfter; // NaN: expect NaN
    bool mutedAfter;
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.name;
}

class SetHardwareVolume : public testing::TestWithParam<SetCase> {};

TEST_P(SetHardwareVolume, LeavesTheDeviceAsExpected) {
    SimulatedAudio audio;
    const SetCase& c = GetParam();
    AudioDeviceID id = audio.output("hdpn", c.startVolume, c.startMuted);

    controller().setHardwareVolume(c.set);

    auto device = *audio.backend->device(id);
    if (std::isnan(c.volumeAfter)) {
        EXPECT_TRUE(std::isnan(device.volume));
    } else {
        EXPECT_FLOAT_EQ(device.volume, c.volumeAfter);
    }
    EXPECT_EQ(device.muted, c.mutedAfter);
    EXPECT_TRUE(audio.alerts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetHardwareVolume,
    testing::Values(SetCase{"ZeroMutesAndKeepsVolume", 0.4f, false, 0.0f, 0.4f, true},
                    SetCase{"NegativeMutes", 0.4f, false, -0.5f, 0.4f, true},
                    SetCase{"MinusInfinityMutes", 0.4f, false, -kInf, 0.4f, true},
                    SetCase{"BelowThresholdMutes", 0.4f, false, kBelowThreshold, 0.4f, true},
                    SetCase{"NearestToThresholdIsAVolume", 0.4f, true, kNearestToThreshold,
                            kNearestToThreshold, false},
                    SetCase{"HalfOnMutedDeviceUnmutes", 0.2f, true, 0.5f, 0.5f, false},
                    SetCase{"AboveOneIsClamped", 0.2f, true, 1.5f, 1.0f, false},
                    SetCase{"InfinityIsClamped", 0.2f, false, kInf, 1.0f, false},
                    SetCase{"NaNIsWrittenUnclamped", 0.2f, true, kNaN, kNaN, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SoundController, RejectedWritesChangeNothingAndOnlyAFailedMuteAlerts) {
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.3f, true);
    audio.backend->fail(Call::SetVolume);
    controller().setHardwareVolume(0.8f);
    EXPECT_TRUE(audio.backend->device(id)->muted);
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.3f);
    EXPECT_TRUE(audio.alerts.empty());

    audio.backend->changeMuted(id, false);
    audio.backend->fail(Call::SetMuted);
    controller().setHardwareVolume(0.0f);
    controller().setHardwareVolume(-1.0f);
    EXPECT_EQ(audio.alerts,
              (std::vector<std::string>{"Unable to mute device.", "Unable to mute device."}));
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.3f);
    // The plain mute and toggle report nothing.
    controller().muteHardwareVolume();
    controller().toggleMute();
    EXPECT_EQ(audio.alerts.size(), 2u);
}

TEST(SoundController, VolumeReadsOnlyValuesInRange) {
    struct {
        float reported;
        float expected;
    } cases[] = {{1.2f, 0.0f}, {-0.1f, 0.0f}, {1.0f, 1.0f}, {0.0f, 0.0f}, {0.37f, 0.37f}};
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.0f);
    for (const auto& c : cases) {
        audio.backend->changeVolume(id, c.reported);
        EXPECT_FLOAT_EQ(controller().getHardwareVolume(), c.expected) << c.reported;
    }
    audio.backend->changeVolume(id, kNaN);
    EXPECT_TRUE(std::isnan(controller().getHardwareVolume()));
    audio.backend->fail(Call::Volume);
    EXPECT_EQ(controller().getHardwareVolume(), 0.0f);
}

TEST(SoundController, OutputTypeIsTheDataSourceMostSignificantByteFirst) {
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("ispk", 0.5f);
    EXPECT_EQ(controller().getAudioDeviceDataSource(), fourCharCode("ispk"));
    EXPECT_EQ(controller().getAudioDeviceDataSourceName(), "ispk");
    EXPECT_EQ(controller().getOutputDeviceID(), id);

    audio.backend->fail(Call::OutputType);
    EXPECT_EQ(controller().getAudioDeviceDataSource(), 0u);
    EXPECT_EQ(controller().getAudioDeviceDataSourceName(), std::string(4, '\0'));
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
}

TEST(SoundController, VolumeSteps) {
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.0625f);

    controller().decreaseVolume();
    EXPECT_TRUE(audio.backend->device(id)->muted);
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.0625f);

    controller().increaseVolume();
    EXPECT_FALSE(audio.backend->device(id)->muted);
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.125f);

    audio.backend->changeVolume(id, 0.97f);
    controller().increaseVolume();
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 1.0f);

    audio.backend->changeMuted(id, true);
    audio.backend->fail(Call::Volume);
    controller().increaseVolume();
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.0625f);
    EXPECT_FALSE(audio.backend->device(id)->muted);
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
    EXPECT_NE(seen[0], nullptr);
}

} // namespace
