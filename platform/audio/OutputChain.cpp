#include "platform/audio/OutputChain.h"

#include "platform/audio/AudioObject.h"
#include "platform/audio/OutputKinds.h"

#include <algorithm>

namespace platform::audio::pulse {

// Where one sink's output goes: the sinks its streams play into, none when it plays into
// nothing further.
struct OutputChain::Hop {
    std::vector<std::uint32_t> targets;
    std::vector<std::uint32_t> streams;
    bool pending = false;

    void through(std::uint32_t stream, const Stream& s, const Sinks& sinks) {
        streams.push_back(stream);
        if (s.target == PA_INVALID_INDEX || !sinks.contains(s.target)) {
            pending = true;
        } else if (std::find(targets.begin(), targets.end(), s.target) == targets.end()) {
            targets.push_back(s.target);
        }
    }
};

namespace {

Reach pendingReach() {
    Reach reach;
    reach.pending = true;
    return reach;
}

Reach brokenReach(const char* because) {
    Reach reach;
    reach.brokenBecause = because;
    return reach;
}

Reach reachOf(std::uint32_t index, const Sink& sink) {
    Reach reach;
    reach.sink = index;
    reach.kind = sink.outputType;
    reach.port = sink.activePort;
    return reach;
}

bool partners(std::uint32_t module, const std::string& group, const Stream& stream) {
    return (module != PA_INVALID_INDEX && stream.ownerModule == module) ||
           (!group.empty() && stream.linkGroup == group);
}

} // namespace

Reach OutputChain::resolve(std::uint32_t start) const {
    Reach reach = follow(start, 0, {});
    if (reach.pending || reach.brokenBecause == nullptr) {
        return reach;
    }
    // Nothing sure to act on: the default sink as it is, of no kind of its own.
    auto found = sinks_.find(start);
    reach.sink = start;
    reach.kind = fourCharCode(kOtherOutput);
    reach.port = found == sinks_.end() ? "" : found->second.activePort;
    return reach;
}

Reach OutputChain::follow(std::uint32_t index, int hops, std::vector<std::uint32_t> visited) const {
    if (std::find(visited.begin(), visited.end(), index) != visited.end()) {
        return brokenReach("it loops");
    }
    if (++visited_ > kMaxSinksVisited) {
        return brokenReach("it passes too many sinks");
    }
    auto found = sinks_.find(index);
    if (found == sinks_.end()) {
        return pendingReach();
    }
    visited.push_back(index);
    Hop hop = nextHop(index, found->second);
    Reach reach;
    if (hop.pending) {
        reach = pendingReach();
    } else if (hop.targets.empty()) {
        reach = reachOf(index, found->second);
    } else if (hops == kMaxHops) {
        reach = brokenReach("it is longer than the hop limit");
    } else if (hop.targets.size() == 1) {
        reach = follow(hop.targets.front(), hops + 1, visited);
    } else {
        reach = combined(index, hop, hops, visited);
    }
    reach.streams.insert(reach.streams.end(), hop.streams.begin(), hop.streams.end());
    return reach;
}

// A sink that plays into several others is the output itself, of their kind when they agree.
Reach OutputChain::combined(std::uint32_t index, const Hop& hop, int hops,
                            const std::vector<std::uint32_t>& visited) const {
    Reach reach = reachOf(index, sinks_.at(index));
    reach.kind = 0;
    for (std::uint32_t target : hop.targets) {
        Reach part = follow(target, hops + 1, visited);
        reach.streams.insert(reach.streams.end(), part.streams.begin(), part.streams.end());
        if (part.pending || part.brokenBecause != nullptr) {
            part.streams = std::move(reach.streams);
            return part;
        }
        reach.kind =
            reach.kind == 0 || reach.kind == part.kind ? part.kind : fourCharCode(kOtherOutput);
    }
    return reach;
}

OutputChain::Hop OutputChain::nextHop(std::uint32_t index, const Sink& sink) const {
    Hop hop;
    if (sink.easyEffects) {
        // Its output is no stream we can see: it plays into the last default before it, or,
        // started with it as the default, into the one sink that is no effects sink.
        auto plain = sinkNamed(lastPlainDefault_);
        plain = plain ? plain : onlyPlainSink();
        if (plain && *plain != index) {
            hop.targets.push_back(*plain);
        }
        return hop;
    }
    for (const auto& [stream, s] : inputs_) {
        if (partners(sink.ownerModule, sink.linkGroup, s)) {
            hop.through(stream, s, sinks_);
        }
    }
    // A loopback that records the sink's monitor, and its partner that plays the sound on.
    const bool owned = !hop.streams.empty();
    for (const auto& [recorder, r] : outputs_) {
        if (owned || sink.monitorSource == PA_INVALID_INDEX || r.target != sink.monitorSource) {
            continue;
        }
        for (const auto& [stream, s] : inputs_) {
            if (partners(r.ownerModule, r.linkGroup, s)) {
                hop.through(stream, s, sinks_);
            }
        }
    }
    // It goes stale after a move: only when nothing better says where the sound goes.
    if (hop.streams.empty() && !sink.masterDevice.empty()) {
        if (auto master = sinkNamed(sink.masterDevice); master && *master != index) {
            hop.targets.push_back(*master);
        }
    }
    return hop;
}

std::optional<std::uint32_t> OutputChain::onlyPlainSink() const {
    std::optional<std::uint32_t> found;
    for (const auto& [index, sink] : sinks_) {
        if (!sink.virtualNode && !sink.easyEffects) {
            if (found) {
                return std::nullopt;
            }
            found = index;
        }
    }
    return found;
}

std::optional<std::uint32_t> OutputChain::sinkNamed(const std::string& name) const {
    if (name.empty()) {
        return std::nullopt;
    }
    for (const auto& [index, sink] : sinks_) {
        if (sink.name == name) {
            return index;
        }
    }
    return std::nullopt;
}

} // namespace platform::audio::pulse
