#pragma once

#include "platform/audio/Backend.h"
#include "platform/audio/Delivery.h"
#include "platform/audio/TaskThread.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform::audio {

// An in-memory sound system for tests: outputs with a kind, a volume and a mute switch, a
// settable default output, any call made to fail on demand, and one delivery to the listeners
// for every change that notifies. It runs the way the real backend does: deliveries on a thread
// of its own, which also runs every call from another thread, one at a time and never during a
// delivery; and a delivery pins the default output.
class SimulatedBackend : public Backend, private Delivery::Source {
public:
    struct Device {
        std::uint32_t outputType = 0;
        float volume = 0;
        bool muted = false;
        std::string description;
    };

    enum class Call { DefaultOutput, OutputType, Volume, Muted, SetVolume, SetMuted, Description };

    // One accepted or refused write, in the order the writes arrived.
    struct Write {
        AudioDeviceID device;
        Call call;
        float volume; // for SetVolume
        bool muted;   // for SetMuted
        bool accepted;
    };

    SimulatedBackend();
    ~SimulatedBackend() override;
    SimulatedBackend(const SimulatedBackend&) = delete;
    SimulatedBackend& operator=(const SimulatedBackend&) = delete;

    // The changes below are the server's and another program's: made at once, on the caller's
    // thread, whatever the backend's thread is doing.
    AudioDeviceID addDevice(std::uint32_t outputType, float volume = 0.5f, bool muted = false);
    // The default output becomes none when it is removed. Notifies.
    void removeDevice(AudioDeviceID device);
    // kAudioObjectUnknown means there is no default output. Notifies, as a switch does.
    void setDefaultDevice(AudioDeviceID device);
    // An effects sink that plays into the default output; kAudioObjectUnknown for none, as at
    // the start. Notifies.
    void setSinkInFront(AudioDeviceID device);
    void setDescription(AudioDeviceID device, const std::string& description);
    // Headphones plugged in. Notifies.
    void changeOutputType(AudioDeviceID device, std::uint32_t outputType);
    // Changes made the way another program would: the volume notifies the device's listeners,
    // the mute nobody.
    void changeVolume(AudioDeviceID device, float volume);
    void changeMuted(AudioDeviceID device, bool muted);
    // The change is made while the next call of that kind waits for its answer, as a change by
    // another program can come in at any moment.
    void duringNext(Call call, std::function<void()> change);

    std::optional<Device> device(AudioDeviceID device) const;
    // Every later call of that kind fails until it is cleared.
    void fail(Call call, bool failing = true);
    // Every later call of that kind waits, as for a server that stopped answering, until
    // giveUpWaiting(); then it fails.
    void hang(Call call);
    std::vector<Write> writes() const;
    void clearWrites();

    // A delivery without a change, as an unrelated event would give.
    void notify();
    // Blocks until every delivery due has been made.
    void waitUntilIdle();

    // The layer's calls. The writes come first here: they are what the tests look at.
    Result setVolume(AudioDeviceID device, float fraction) override;
    Result setMuted(AudioDeviceID device, bool muted) override;
    Result defaultOutput(AudioDeviceID& device) override;
    Result defaultSink(AudioDeviceID& device) override;
    Result description(AudioDeviceID device, std::string& text) override;
    Result outputType(AudioDeviceID device, std::uint32_t& code) override;
    Result volume(AudioDeviceID device, float& fraction) override;
    Result muted(AudioDeviceID device, bool& muted) override;
    // A simulated volume reads as it was set, 1.0 or not: the level calls are the volume calls.
    Result level(AudioDeviceID device, float& fraction) override {
        return volume(device, fraction);
    }
    Result setLevel(AudioDeviceID device, float fraction) override {
        return setVolume(device, fraction);
    }
    void giveUpWaiting() override;
    bool onNotificationThread() const override { return thread_.onThread(); }

private:
    struct Change {
        AudioObjectID objectID;
        AudioObjectPropertyAddress address;
    };

    // Each change has a delivery of its own.
    void markTold() override {}
    std::optional<AudioDeviceID> liveDefaultOutput() const override;
    bool hasOutput(AudioDeviceID device) const override;

    template <typename Work> Result onThread(Work work);
    template <typename Access> Result access(AudioDeviceID id, Call call, Access access);
    void record(const Write& write);
    void changeMade(const Change& change);
    void changeComing(Call call);
    void turn();
    void wake();

    mutable std::mutex mutex_;
    std::map<AudioDeviceID, Device> devices_;
    AudioDeviceID defaultDevice_ = kAudioObjectUnknown;
    AudioDeviceID sinkInFront_ = kAudioObjectUnknown;
    AudioDeviceID nextId_ = 100;
    std::set<Call> failing_;
    std::set<Call> hanging_;
    std::map<Call, std::function<void()>> coming_;
    bool givenUp_ = false;
    std::vector<Write> writes_;

    // Tells of changes, of wake-ups, of the end of a delivery and of giving up.
    std::condition_variable signal_;
    std::deque<Change> changes_;
    bool delivering_ = false;
    bool woken_ = false;
    TaskThread thread_{[this] { turn(); }, [this] { wake(); }};
};

} // namespace platform::audio
