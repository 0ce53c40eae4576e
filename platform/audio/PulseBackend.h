#pragma once

#include "platform/audio/Backend.h"
#include "platform/audio/Operation.h"
#include "platform/audio/PulseConnection.h"
#include "platform/audio/PulseLoop.h"

#include <atomic>

namespace platform::audio {

// The audio layer on a PulseAudio or PipeWire (pipewire-pulse) server. One thread owns the
// connection: it keeps a mirror of the server's sinks, answers reads from it, sends writes and
// runs its loop until their answers come, and calls the listeners between iterations of the
// loop. Calls from other threads are handed to it and waited for.
class PulseBackend : public Backend {
public:
    PulseBackend();
    ~PulseBackend() override;
    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    Result defaultOutput(AudioDeviceID& device) override;
    Result defaultSink(AudioDeviceID& device) override;
    Result description(AudioDeviceID device, std::string& text) override;
    Result outputType(AudioDeviceID device, std::uint32_t& code) override;
    Result volume(AudioDeviceID device, float& fraction) override;
    Result muted(AudioDeviceID device, bool& muted) override;
    Result setVolume(AudioDeviceID device, float fraction) override;
    Result setMuted(AudioDeviceID device, bool muted) override;
    Result setVolumeUnmuted(AudioDeviceID device, float fraction) override;
    Result level(AudioDeviceID device, float& fraction) override;
    Result setLevel(AudioDeviceID device, float fraction) override;
    bool onNotificationThread() const override { return loop_.onLoopThread(); }
    void giveUpWaiting() override;

private:
    template <typename Work> Result withSink(AudioDeviceID device, Work work);
    template <typename Read> Result readSink(AudioDeviceID device, Read read);
    Result writeVolume(AudioDeviceID device, float fraction, bool keepBoost);
    Result writeVolumeUnmuted(std::uint32_t index, const pa_cvolume& volume);
    pulse::Operation sendVolume(std::uint32_t index, const pa_cvolume& volume, bool& succeeded);
    pulse::Operation sendMute(std::uint32_t index, bool muted, bool& succeeded);
    Result waitFor(pulse::Operation operation, const bool& succeeded, const char* function);
    void deliverIfDue();

    pulse::PulseLoop loop_;
    pulse::PulseConnection connection_{loop_};
    std::atomic<bool> givenUp_ = false;
};

} // namespace platform::audio
