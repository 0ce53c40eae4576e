#pragma once

#include "platform/audio/OutputChain.h"

#include <cstdint>
#include <optional>
#include <pulse/introspect.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace platform::audio::pulse {

// What the layer knows of the sound server, kept from its events and answers, and the rules for
// when listeners are due a notification: after the default output (the sink the default sink's
// sound reaches), its kind or its active port changed, after a sink came or went, and after a
// connection was made — never after a change of volume or mute alone, nor after a stream event
// that leaves the output as it was. A notification waits until the answers asked for have come
// and the chain has landed, so that listeners see the server as it is after the event.
class ServerMirror {
public:
    void connected();
    // Everything known is gone with the connection.
    void lost();
    bool isConnected() const { return connected_; }

    // A question was sent to the server, and its answer (or its failure) came.
    void asked() { ++pendingQueries_; }
    void answered();
    // An answer that is late does not hold notifications back any longer.
    void stopWaitingForAnswers() { pendingQueries_ = 0; }
    int pendingQueries() const { return pendingQueries_; }

    // Answers and events.
    void serverInfo(const pa_server_info& info);
    void sinkInfo(const pa_sink_info& info);
    void sinkAppeared() { changedSinceTold_ = true; }
    void sinkRemoved(std::uint32_t index);
    void sinkInputInfo(const pa_sink_input_info& info);
    void sourceOutputInfo(const pa_source_output_info& info);
    void sinkInputRemoved(std::uint32_t index);
    void sourceOutputRemoved(std::uint32_t index);
    // Our own writes, once the server has taken them.
    void volumeWritten(std::uint32_t index, const pa_cvolume& volume);
    void muteWritten(std::uint32_t index, bool muted);

    // Whether a connection of its own sees another default sink than ours, when we are not
    // waiting for an answer that may bring ours up to date.
    bool outOfDate(const std::string& defaultSinkSeenElsewhere) const {
        return connected_ && pendingQueries_ == 0 && defaultSinkSeenElsewhere != defaultSinkName_;
    }

    // Whether listeners are to be told now; a delivery marks them told.
    bool listenersDue() const;
    void markTold() { changedSinceTold_ = false; }

    // The sinks whose volume an answer showed changed since the last call, by another program:
    // our own writes are in the mirror before their answers come.
    std::vector<std::uint32_t> takeVolumeChanges() { return std::exchange(volumeChanged_, {}); }

    // The sink the default sink's sound reaches, when it is known; while a chain is moving,
    // the one it reached before, if it is still there.
    std::optional<std::uint32_t> defaultOutput() const;
    // The server's own default sink, which may be an effects sink in front of the output.
    std::optional<std::uint32_t> defaultSink() const;
    // A sink's kind; the default output's is that of where the sound goes.
    std::uint32_t outputTypeOf(std::uint32_t index) const;
    // The streams the default sink's sound passes through, and whether one is between sinks.
    const std::vector<std::uint32_t>& chainStreams() const { return reach_.streams; }
    bool chainPending() const { return reach_.pending; }
    const Sink* sink(std::uint32_t index) const;

private:
    // What decides the volume: which sink the sound reaches, its kind and its active port.
    using Output = std::tuple<std::uint32_t, std::uint32_t, std::string>;

    void noteOutput();
    std::optional<Output> landedOutput() const;

    bool connected_ = false;
    int pendingQueries_ = 0;
    bool changedSinceTold_ = false;
    std::string defaultSinkName_;
    // Kept across connections: an effects sink that hides where it plays needs it.
    std::string lastPlainDefault_;
    Sinks sinks_;
    Streams sinkInputs_;
    Streams sourceOutputs_;
    Reach reach_;
    std::optional<Output> seen_;
    std::vector<std::uint32_t> volumeChanged_;
};

} // namespace platform::audio::pulse
