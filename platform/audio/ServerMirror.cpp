#include "platform/audio/ServerMirror.h"

#include "platform/audio/PulseMapping.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <pulse/proplist.h>

namespace platform::audio::pulse {

namespace {

// EasyEffects' sink: its output is no stream a client can see.
constexpr char kEasyEffectsId[] = "com.github.wwmm.easyeffects";

std::string text(const char* value) {
    return value ? value : "";
}

std::string property(const pa_proplist* properties, const char* key) {
    return text(properties ? pa_proplist_gets(properties, key) : nullptr);
}

// Streams that carry no chain on are programs playing or recording: not kept.
void keepStream(Streams& streams, std::uint32_t index, std::uint32_t target,
                std::uint32_t ownerModule, const pa_proplist* properties) {
    Stream stream{target, ownerModule, property(properties, "node.link-group")};
    if (stream.ownerModule == PA_INVALID_INDEX && stream.linkGroup.empty()) {
        streams.erase(index);
    } else {
        streams[index] = std::move(stream);
    }
}

} // namespace

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
    sinkInputs_.clear();
    sourceOutputs_.clear();
    reach_ = {};
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
    sink.name = text(info.name);
    sink.description = text(info.description);
    sink.outputType = pulse::outputTypeOf(info);
    sink.volume = info.volume;
    sink.muted = info.mute != 0;
    sink.activePort = text(info.active_port ? info.active_port->name : nullptr);
    sink.ownerModule = info.owner_module;
    sink.linkGroup = property(info.proplist, "node.link-group");
    sink.monitorSource = info.monitor_source;
    sink.masterDevice = property(info.proplist, PA_PROP_DEVICE_MASTER_DEVICE);
    sink.virtualNode = property(info.proplist, "node.virtual") == "true";
    sink.easyEffects = property(info.proplist, PA_PROP_APPLICATION_ID) == kEasyEffectsId;
    noteOutput();
}

void ServerMirror::sinkInputInfo(const pa_sink_input_info& info) {
    keepStream(sinkInputs_, info.index, info.sink, info.owner_module, info.proplist);
    noteOutput();
}

void ServerMirror::sourceOutputInfo(const pa_source_output_info& info) {
    keepStream(sourceOutputs_, info.index, info.source, info.owner_module, info.proplist);
    noteOutput();
}

void ServerMirror::sinkInputRemoved(std::uint32_t index) {
    sinkInputs_.erase(index);
    noteOutput();
}

void ServerMirror::sourceOutputRemoved(std::uint32_t index) {
    sourceOutputs_.erase(index);
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
    auto front = defaultSink();
    reach_ = {};
    if (front) {
        const Sink& sink = sinks_.at(*front);
        if (!sink.virtualNode && !sink.easyEffects) {
            lastPlainDefault_ = sink.name;
        }
        reach_ =
            OutputChain(sinks_, sinkInputs_, sourceOutputs_, lastPlainDefault_).resolve(*front);
    }
    // A chain half moved is no output to act on: it counts once it has landed.
    auto now = landedOutput();
    if (!reach_.pending && now != seen_) {
        if (reach_.brokenBecause != nullptr) {
            log::nslog("the sound of %s cannot be followed (%s); taking it as the output",
                       sinks_.at(*front).name.c_str(), reach_.brokenBecause);
        }
        seen_ = now;
        changedSinceTold_ = true;
    }
}

bool ServerMirror::listenersDue() const {
    // Without a default output there is nothing for a listener to act on.
    return changedSinceTold_ && connected_ && pendingQueries_ == 0 && landedOutput().has_value();
}

std::optional<ServerMirror::Output> ServerMirror::landedOutput() const {
    if (reach_.pending || reach_.sink == PA_INVALID_INDEX) {
        return std::nullopt;
    }
    return Output{reach_.sink, reach_.kind, reach_.port};
}

std::optional<std::uint32_t> ServerMirror::defaultOutput() const {
    // Once landed, what was seen is what the chain reaches now.
    if (seen_ && sinks_.contains(std::get<0>(*seen_))) {
        return std::get<0>(*seen_);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ServerMirror::defaultSink() const {
    for (const auto& [index, sink] : sinks_) {
        if (sink.name == defaultSinkName_) {
            return index;
        }
    }
    return std::nullopt;
}

std::uint32_t ServerMirror::outputTypeOf(std::uint32_t index) const {
    if (seen_ && std::get<0>(*seen_) == index) {
        return std::get<1>(*seen_);
    }
    const Sink* found = sink(index);
    return found ? found->outputType : 0;
}

const Sink* ServerMirror::sink(std::uint32_t index) const {
    auto found = sinks_.find(index);
    return found == sinks_.end() ? nullptr : &found->second;
}

} // namespace platform::audio::pulse
