#include "platform/audio/AudioObject.h"
#include "platform/audio/Backend.h"
#include "platform/audio/ListenerRegistry.h"

#include "tests/support/Eventually.h"
#include "tests/support/SimulatedAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace platform::audio;
using sonvela::test::SimulatedAudio;

namespace {

struct Calls {
    std::atomic<int> count{0};
    std::atomic<bool> onCallerThread{false};
    std::thread::id caller = std::this_thread::get_id();
};

OSStatus countCall(AudioObjectID, std::uint32_t, const AudioObjectPropertyAddress*, void* data) {
    auto* calls = static_cast<Calls*>(data);
    calls->count++;
    if (std::this_thread::get_id() == calls->caller) {
        calls->onCallerThread = true;
    }
    // A listener may call back into the layer without deadlocking it.
    AudioDeviceID device = 0;
    currentBackend()->defaultOutput(device);
    return 0;
}

const AudioObjectPropertyAddress kEverything{kAudioObjectPropertySelectorWildcard,
                                             kAudioObjectPropertyScopeWildcard,
                                             kAudioObjectPropertyElementWildcard};

TEST(AudioListeners, CalledOnTheNotificationThreadForOutputChangesOnly) {
    SimulatedAudio audio;
    Calls calls;
    ASSERT_EQ(addPropertyListener(kAudioObjectSystemObject, &kEverything, countCall, &calls), 0);
    AudioDeviceID a = audio.output("ispk", 0.5f);
    AudioDeviceID b = audio.output("hdpn", 0.5f);
    audio.backend->changeOutputType(b, fourCharCode("hdst"));
    audio.backend->setDefaultDevice(a);
    audio.backend->waitUntilIdle();
    EXPECT_EQ(calls.count, 4);

    // Volume and mute writes notify nobody, or a restore would start another restore.
    std::uint32_t one = 1;
    AudioObjectPropertyAddress mute{kAudioDevicePropertyMute, kAudioDevicePropertyScopeOutput, 0};
    ASSERT_EQ(setPropertyData(a, &mute, 0, nullptr, 4, &one), 0);
    audio.backend->waitUntilIdle();
    EXPECT_EQ(calls.count, 4);
    EXPECT_FALSE(calls.onCallerThread);

    ASSERT_EQ(removePropertyListener(kAudioObjectSystemObject, &kEverything, countCall, &calls), 0);
    audio.backend->notify();
    audio.backend->waitUntilIdle();
    EXPECT_EQ(calls.count, 4);
    EXPECT_NE(removePropertyListener(kAudioObjectSystemObject, &kEverything, countCall, &calls), 0);
}

struct Slow {
    std::atomic<bool> inside{false};
    std::atomic<bool> done{false};
};

OSStatus takeAWhile(AudioObjectID, std::uint32_t, const AudioObjectPropertyAddress*, void* data) {
    auto* slow = static_cast<Slow*>(data);
    slow->inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    slow->done = true;
    return 0;
}

// As on the real backend: a call from another thread runs on the notification thread, after
// the delivery in progress, never in the middle of it.
TEST(AudioListeners, AnotherThreadsCallWaitsForTheDeliveryInProgress) {
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.5f);
    Slow slow;
    ASSERT_EQ(addPropertyListener(kAudioObjectSystemObject, &kEverything, takeAWhile, &slow), 0);
    audio.backend->notify();
    ASSERT_TRUE(sonvela::test::eventually([&] { return slow.inside.load(); }));
    EXPECT_FALSE(slow.done);
    EXPECT_EQ(audio.backend->setMuted(id, true), Result::Ok);
    EXPECT_TRUE(slow.done);
    audio.backend->waitUntilIdle();
    removePropertyListener(kAudioObjectSystemObject, &kEverything, takeAWhile, &slow);
}

TEST(AudioListeners, AddressesMatchWithWildcardsOnTheirOwnObject) {
    ListenerRegistry registry;
    Calls defaultOnly, dataSourceOnly, everything, device;
    AudioObjectPropertyAddress dOut{kAudioHardwarePropertyDefaultOutputDevice,
                                    kAudioObjectPropertyScopeWildcard,
                                    kAudioObjectPropertyElementWildcard};
    AudioObjectPropertyAddress ssrc{kAudioDevicePropertyDataSource, kAudioDevicePropertyScopeOutput,
                                    0};
    registry.add(kAudioObjectSystemObject, dOut, countCall, &defaultOnly);
    registry.add(kAudioObjectSystemObject, ssrc, countCall, &dataSourceOnly);
    registry.add(kAudioObjectSystemObject, kEverything, countCall, &everything);
    registry.add(100, kVolumeChanged, countCall, &device);
    EXPECT_NE(registry.add(kAudioObjectUnknown, kEverything, countCall, &everything), 0);

    registry.deliver(kAudioObjectSystemObject, kDefaultOutputChanged);
    registry.deliver(kAudioObjectSystemObject, ssrc);
    registry.deliver(kAudioObjectSystemObject, kEverything);
    // A device's volume is none of the system object's listeners' business.
    registry.deliver(100, kVolumeChanged);
    registry.deliver(101, kVolumeChanged);
    EXPECT_EQ(defaultOnly.count, 2);
    EXPECT_EQ(dataSourceOnly.count, 2);
    EXPECT_EQ(everything.count, 3);
    EXPECT_EQ(device.count, 1);
}

// A listener that swaps the backend and lets go of the old one while that one is delivering.
OSStatus swapBackend(AudioObjectID, std::uint32_t, const AudioObjectPropertyAddress*, void* data) {
    std::shared_ptr<Backend> old = currentBackend();
    useBackend(*static_cast<std::shared_ptr<SimulatedBackend>*>(data));
    old.reset();
    AudioDeviceID device = 0;
    currentBackend()->defaultOutput(device);
    return 0;
}

TEST(AudioListeners, ABackendDroppedDuringItsDeliveryOutlivesIt) {
    auto next = makeBackend<SimulatedBackend>();
    auto first = makeBackend<SimulatedBackend>();
    std::weak_ptr<Backend> watched = first;
    useBackend(first);
    ASSERT_EQ(addPropertyListener(kAudioObjectSystemObject, &kEverything, swapBackend, &next), 0);
    // The layer holds the only reference, which the listener drops.
    SimulatedBackend* delivering = first.get();
    first.reset();
    delivering->notify();

    EXPECT_TRUE(sonvela::test::eventually([&] { return watched.expired(); }));
    EXPECT_EQ(currentBackend(), next);
    useBackend(nullptr);
}

TEST(AudioCalls, RejectWrongSizesQualifiersAndObjects) {
    SimulatedAudio audio;
    AudioDeviceID id = audio.output("hdpn", 0.5f);
    AudioObjectPropertyAddress volume{kAudioHardwareServiceDeviceProperty_VirtualMasterVolume,
                                      kAudioDevicePropertyScopeOutput, 0};
    float value = 0;
    std::uint32_t size = 8;
    EXPECT_EQ(getPropertyData(id, &volume, 0, nullptr, &size, &value),
              kAudioHardwareBadPropertySizeError);
    size = 4;
    EXPECT_NE(getPropertyData(id, &volume, 4, &value, &size, &value), 0);
    EXPECT_NE(getPropertyData(id, nullptr, 0, nullptr, &size, &value), 0);
    EXPECT_EQ(getPropertyData(999, &volume, 0, nullptr, &size, &value),
              kAudioHardwareBadObjectError);
    EXPECT_NE(setPropertyData(id, &volume, 0, nullptr, 2, &value), 0);
    EXPECT_NE(addPropertyListener(kAudioObjectSystemObject, &volume, nullptr, nullptr), 0);
    std::string text;
    EXPECT_EQ(getDeviceDescription(999, text), kAudioHardwareBadObjectError);

    audio.backend->setDefaultDevice(kAudioObjectUnknown);
    AudioObjectPropertyAddress dOut{kAudioHardwarePropertyDefaultOutputDevice,
                                    kAudioObjectPropertyScopeGlobal, 0};
    EXPECT_NE(getPropertyData(kAudioObjectSystemObject, &dOut, 0, nullptr, &size, &value), 0);
}

} // namespace
