#include "platform/audio/ServerMirror.h"

#include "platform/audio/PulseMapping.h"

#include <algorithm>

namespace platform::audio::pulse {

void ServerMirror::connected() {
    lost();
    connected_ = true;
    // Listeners hear of a connection that came back, even when the same output is the default.
    changedSinceTold_ = true;
}

void ServerMirror::lost() {
    connected_ = false;
    pendingQueries_ = 0;
    changedSinceTold_ = false;
    defaultSinkName_.clear();
    sinks_.clear();
    seen_.reset();
    volumeChanged_.clear();
}

void ServerMirror::answered() {
    // A late answer may come after we stopped waiting for it.
    if (pendingQueries_ > 0) {
        --pendingQueries_;
    }
}

void ServerMirror::serverInfo(const pa_server_info& info) {
    defaultSinkName_ = info.default_sink_name ? info.default_sink_name : "";
    noteOutput();
}

void ServerMirror::sinkInfo(const pa_sink_info& info) {
    auto known = sinks_.find(info.index);
    if (known != sinks_.end() && !pa_cvolume_equal(&known->second.volume, &info.volume) &&
        std::find(volumeChanged_.begin(), volumeChanged_.end(), info.index) ==
            volumeChanged_.end()) {
        volumeChanged_.push_back(info.index);
    }
    Sink& sink = sinks_[info.index];
    sink.name = info.name ? info.name : "";
    sink.outputType = outputTypeOf(info);
    sink.volume = info.volume;
    sink.muted = info.mute != 0;
    sink.activePort = info.active_port && info.active_port->name ? info.active_port->name : "";
    noteOutput();
}

void ServerMirror::sinkRemoved(std::uint32_t index) {
    sinks_.erase(index);
    changedSinceTold_ = true;
    noteOutput();
}

void ServerMirror::volumeWritten(std::uint32_t index, const pa_cvolume& volume) {
    if (auto found = sinks_.find(index); found != sinks_.end()) {
        found->second.volume = volume;
    }
}

void ServerMirror::muteWritten(std::uint32_t index, bool muted) {
    if (auto found = sinks_.find(index); found != sinks_.end()) {
        found->second.muted = muted;
    }
}

void ServerMirror::noteOutput() {
    // Listeners read the mirror whenever they run, so every output it shows counts, not only
    // the one it settles on: after A, B and A again, the listener that was told of A may have
    // acted on B, and A needs another notification.
    auto now = currentOutput();
    if (now != seen_) {
        seen_ = now;
        changedSinceTold_ = true;
    }
}

bool ServerMirror::listenersDue() const {
    // Without a default output there is nothing for a listener to act on.
    return changedSinceTold_ && connected_ && pendingQueries_ == 0 && currentOutput().has_value();
}

std::optional<ServerMirror::Output> ServerMirror::currentOutput() const {
    for (const auto& [index, sink] : sinks_) {
        if (sink.name == defaultSinkName_) {
            return Output{index, sink.outputType, sink.activePort};
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ServerMirror::defaultSink() const {
    auto output = currentOutput();
    return output ? std::optional(std::get<0>(*output)) : std::nullopt;
}

const Sink* ServerMirror::sink(std::uint32_t index) const {
    auto found = sinks_.find(index);
    return found == sinks_.end() ? nullptr : &found->second;
}

} // namespace platform::audio::pulse
