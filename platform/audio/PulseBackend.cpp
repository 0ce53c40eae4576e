#include "platform/audio/PulseBackend.h"

#include "platform/audio/PulseMapping.h"
#include "platform/log/Log.h"

#include <cmath>
#include <optional>

namespace platform::audio {

namespace {

void onSuccess(pa_context*, int success, void* succeeded) {
    *static_cast<bool*>(succeeded) = success != 0;
}

} // namespace

PulseBackend::PulseBackend() {
    loop_.start([this] { deliverIfDue(); });
    loop_.call([this] {
        connection_.connect();
        // Give the first attempt its answer, so that a program's first restore sees the server.
        while (!connection_.firstAttemptDone()) {
            loop_.iterate();
        }
        // The program's own start-up deals with the state it finds.
        connection_.mirror().markTold();
    });
}

PulseBackend::~PulseBackend() {
    giveUpWaiting();
    // Never on the loop thread (see retire()), so a delivery in progress ends first.
    loop_.stop();
}

void PulseBackend::giveUpWaiting() {
    givenUp_ = true;
    loop_.wake();
}

void PulseBackend::deliverIfDue() {
    pulse::ServerMirror& mirror = connection_.mirror();
    for (std::uint32_t sink : mirror.takeVolumeChanges()) {
        listeners().deliver(pulse::deviceIdOf(sink), kVolumeChanged);
    }
    if (!mirror.listenersDue()) {
        return;
    }
    // Events that come during the delivery make the next one due: a burst folds into a few.
    Delivery delivery(connection_);
    listeners().deliver(kAudioObjectSystemObject, kDefaultOutputChanged);
}

// Runs the work on the loop thread with a copy of the device's sink: the mirror may change
// while a write waits for its answer.
template <typename Work> Result PulseBackend::withSink(AudioDeviceID device, Work work) {
    Result result = Result::NoServer;
    loop_.call([&] {
        const pulse::ServerMirror& mirror = connection_.mirror();
        std::uint32_t index = pulse::sinkIndexOf(device);
        const pulse::Sink* sink = device < pulse::kDeviceIdOffset ? nullptr : mirror.sink(index);
        if (!mirror.isConnected()) {
            result = Result::NoServer;
        } else if (sink == nullptr) {
            result = Result::NoSuchOutput;
        } else {
            result = work(index, pulse::Sink(*sink));
        }
    });
    return result;
}

// Reads come from the mirror: a sink that is known has its answer.
template <typename Read> Result PulseBackend::readSink(AudioDeviceID device, Read read) {
    return withSink(device, [&](std::uint32_t, const pulse::Sink& sink) {
        read(sink);
        return Result::Ok;
    });
}

Result PulseBackend::defaultOutput(AudioDeviceID& device) {
    Result result = Result::NoServer;
    loop_.call([&] {
        if (auto output = connection_.defaultOutputToActOn()) {
            device = *output;
            result = Result::Ok;
        }
    });
    return result;
}

Result PulseBackend::defaultSink(AudioDeviceID& device) {
    Result result = Result::NoServer;
    loop_.call([&] {
        if (auto sink = connection_.mirror().defaultSink()) {
            device = pulse::deviceIdOf(*sink);
            result = Result::Ok;
        }
    });
    return result;
}

Result PulseBackend::description(AudioDeviceID device, std::string& text) {
    return readSink(device, [&](const pulse::Sink& sink) { text = sink.description; });
}

// The default output's kind is that of where its sound goes (a combine's outputs).
Result PulseBackend::outputType(AudioDeviceID device, std::uint32_t& code) {
    return withSink(device, [&](std::uint32_t index, const pulse::Sink&) {
        code = connection_.mirror().outputTypeOf(index);
        return Result::Ok;
    });
}

Result PulseBackend::volume(AudioDeviceID device, float& fraction) {
    return readSink(
        device, [&](const pulse::Sink& sink) { fraction = pulse::volumeFraction(sink.volume); });
}

Result PulseBackend::muted(AudioDeviceID device, bool& muted) {
    return readSink(device, [&](const pulse::Sink& sink) { muted = sink.muted; });
}

Result PulseBackend::level(AudioDeviceID device, float& fraction) {
    return readSink(device,
                    [&](const pulse::Sink& sink) { fraction = pulse::volumeLevel(sink.volume); });
}

Result PulseBackend::setVolume(AudioDeviceID device, float fraction) {
    return writeVolume(device, fraction, true);
}

Result PulseBackend::setLevel(AudioDeviceID device, float fraction) {
    return writeVolume(device, fraction, false);
}

namespace {

// The volume a write sets, or nothing when the sink has it already and the server would send
// nothing back. A boosted sink reads as full volume: writing back what was read keeps its boost.
std::optional<pa_cvolume> volumeToWrite(const pulse::Sink& sink, float fraction, bool keepBoost) {
    pa_cvolume volume = pulse::scaledTo(sink.volume, fraction);
    if ((keepBoost && fraction == pulse::volumeFraction(sink.volume)) ||
        pa_cvolume_equal(&volume, &sink.volume)) {
        return std::nullopt;
    }
    return volume;
}

} // namespace

pulse::Operation PulseBackend::sendVolume(std::uint32_t index, const pa_cvolume& volume,
                                          bool& succeeded) {
    return pulse::Operation(pa_context_set_sink_volume_by_index(connection_.context(), index,
                                                                &volume, onSuccess, &succeeded));
}

pulse::Operation PulseBackend::sendMute(std::uint32_t index, bool muted, bool& succeeded) {
    return pulse::Operation(pa_context_set_sink_mute_by_index(connection_.context(), index, muted,
                                                              onSuccess, &succeeded));
}

Result PulseBackend::writeVolume(AudioDeviceID device, float fraction, bool keepBoost) {
    if (std::isnan(fraction)) {
        return Result::Refused;
    }
    return withSink(device, [&](std::uint32_t index, const pulse::Sink& sink) {
        auto volume = volumeToWrite(sink, fraction, keepBoost);
        if (!volume) {
            return Result::Ok;
        }
        bool succeeded = false;
        Result result = waitFor(sendVolume(index, *volume, succeeded), succeeded,
                                "pa_context_set_sink_volume_by_index()");
        if (result == Result::Ok) {
            connection_.mirror().volumeWritten(index, *volume);
        }
        return result;
    });
}

Result PulseBackend::setMuted(AudioDeviceID device, bool muted) {
    return withSink(device, [&](std::uint32_t index, const pulse::Sink& sink) {
        if (sink.muted == muted) {
            return Result::Ok;
        }
        bool succeeded = false;
        Result result = waitFor(sendMute(index, muted, succeeded), succeeded,
                                "pa_context_set_sink_mute_by_index()");
        if (result == Result::Ok) {
            connection_.mirror().muteWritten(index, muted);
        }
        return result;
    });
}

// Both go out before either answer: the server answers in order, and the round trip between
// them was most of what a restore waited on beyond the server itself.
Result PulseBackend::setVolumeUnmuted(AudioDeviceID device, float fraction) {
    if (std::isnan(fraction)) {
        return Result::Refused;
    }
    bool together = false;
    Result result = withSink(device, [&](std::uint32_t index, const pulse::Sink& sink) {
        auto volume = volumeToWrite(sink, fraction, true);
        together = volume && sink.muted;
        return together ? writeVolumeUnmuted(index, *volume) : Result::Ok;
    });
    if (together || result != Result::Ok) {
        return result;
    }
    // One write or none: nothing to wait for between two.
    return Backend::setVolumeUnmuted(device, fraction);
}

Result PulseBackend::writeVolumeUnmuted(std::uint32_t index, const pa_cvolume& volume) {
    bool volumeSet = false, unmuted = false;
    pulse::Operation volumeWrite = sendVolume(index, volume, volumeSet);
    const bool sent = bool(volumeWrite);
    pulse::Operation unmute = sent ? sendMute(index, false, unmuted) : pulse::Operation();
    Result result =
        waitFor(std::move(volumeWrite), volumeSet, "pa_context_set_sink_volume_by_index()");
    // A failed send is logged by the wait; nothing is sent behind a volume that never went.
    Result unmuteResult =
        sent ? waitFor(std::move(unmute), unmuted, "pa_context_set_sink_mute_by_index()")
             : Result::Refused;
    if (result == Result::Ok) {
        connection_.mirror().volumeWritten(index, volume);
        if (unmuteResult == Result::Ok) {
            connection_.mirror().muteWritten(index, false);
        }
        return unmuteResult;
    }
    // Never heard at a volume that was not set.
    if (unmuteResult == Result::Ok) {
        bool muted = false;
        waitFor(sendMute(index, true, muted), muted, "pa_context_set_sink_mute_by_index()");
    }
    return result;
}

// Runs the loop until the server has answered, the connection is gone or we gave up waiting.
// Events that come meanwhile update the mirror and make a delivery due.
Result PulseBackend::waitFor(pulse::Operation operation, const bool& succeeded,
                             const char* function) {
    if (!operation) {
        log::nslog("%s failed: %s", function, connection_.lastError());
        return connection_.mirror().isConnected() ? Result::Refused : Result::NoServer;
    }
    while (operation.running() && !givenUp_) {
        loop_.iterate();
    }
    bool answered = operation.done();
    // Its callback must not run later, into a reply that is gone.
    operation.cancel();
    if (answered && succeeded) {
        return Result::Ok;
    }
    if (givenUp_) {
        log::nslog("%s: gave up waiting for the sound server", function);
        return Result::Refused;
    }
    log::nslog("%s failed: %s", function, connection_.lastError());
    return connection_.mirror().isConnected() ? Result::Refused : Result::NoServer;
}

} // namespace platform::audio
