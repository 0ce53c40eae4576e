#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <pulse/introspect.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace platform::audio::pulse {

// What we keep of one sink of the server.
struct Sink {
    std::string name;
    std::uint32_t outputType = 0;
    pa_cvolume volume{};
    bool muted = false;
    std::string activePort;
};

// What the layer knows of the sound server, kept from its events and answers, and the rules for
// when listeners are due a notification: after the default sink, its kind or its active port
// changed, after a sink came or went, and after a connection was made — never after a change of
// volume or mute alone. A notification waits until the answers asked for have come, so that
// listeners see the server as it is after the event.
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

    // The default sink's index, when the server has one and we know it.
    std::optional<std::uint32_t> defaultSink() const;
    const Sink* sink(std::uint32_t index) const;

private:
    // What decides the volume: which sink is the default, its kind and its active port.
    using Output = std::tuple<std::uint32_t, std::uint32_t, std::string>;

    void noteOutput();
    std::optional<Output> currentOutput() const;

    bool connected_ = false;
    int pendingQueries_ = 0;
    bool changedSinceTold_ = false;
    std::string defaultSinkName_;
    std::map<std::uint32_t, Sink> sinks_;
    std::optional<Output> seen_;
    std::vector<std::uint32_t> volumeChanged_;
};

} // namespace platform::audio::pulse
