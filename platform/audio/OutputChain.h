#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <pulse/def.h>
#include <pulse/volume.h>
#include <string>
#include <vector>

namespace platform::audio::pulse {

// What we keep of one sink of the server.
struct Sink {
    std::string name;
    std::string description;
    std::uint32_t outputType = 0;
    pa_cvolume volume{};
    bool muted = false;
    std::string activePort;
    // What ties an effects sink to the stream that carries its output on.
    std::uint32_t ownerModule = PA_INVALID_INDEX;
    std::string linkGroup;
    std::uint32_t monitorSource = PA_INVALID_INDEX;
    std::string masterDevice;
    bool virtualNode = false;
    bool easyEffects = false;
};

// A sink-input or source-output that may carry a chain on: one a module owns or that shares a
// link group. Other streams are programs playing or recording and are not kept.
struct Stream {
    // The sink it plays into, or the source it records; PA_INVALID_INDEX between two.
    std::uint32_t target = PA_INVALID_INDEX;
    std::uint32_t ownerModule = PA_INVALID_INDEX;
    std::string linkGroup;
};

using Sinks = std::map<std::uint32_t, Sink>;
using Streams = std::map<std::uint32_t, Stream>;

// Where the sound of a sink finally goes: the sink itself when it plays into nothing further,
// else the sink its output stream plays into, followed a few hops.
struct Reach {
    std::uint32_t sink = PA_INVALID_INDEX;
    std::uint32_t kind = 0;
    std::string port;
    // A stream of the chain has no sink yet, or one we do not know yet.
    bool pending = false;
    // Why the chain was given up, for the log; nullptr when it was not.
    const char* brokenBecause = nullptr;
    // The sink-inputs the sound passed through, to ask again when links move unannounced.
    std::vector<std::uint32_t> streams;
};

// Follows the chain from one sink over what the mirror knows.
class OutputChain {
public:
    static constexpr int kMaxHops = 4;
    // Combines of combines could make the hops many; a real desktop has a handful.
    static constexpr int kMaxSinksVisited = 64;

    OutputChain(const Sinks& sinks, const Streams& inputs, const Streams& outputs,
                const std::string& lastPlainDefault)
        : sinks_(sinks), inputs_(inputs), outputs_(outputs), lastPlainDefault_(lastPlainDefault) {}

    Reach resolve(std::uint32_t start) const;

private:
    struct Hop;

    Reach follow(std::uint32_t sink, int hops, std::vector<std::uint32_t> visited) const;
    Hop nextHop(std::uint32_t index, const Sink& sink) const;
    Reach combined(std::uint32_t index, const Hop& hop, int hops,
                   const std::vector<std::uint32_t>& visited) const;
    std::optional<std::uint32_t> sinkNamed(const std::string& name) const;
    std::optional<std::uint32_t> onlyPlainSink() const;

    const Sinks& sinks_;
    const Streams& inputs_;
    const Streams& outputs_;
    const std::string& lastPlainDefault_;
    mutable int visited_ = 0;
};

} // namespace platform::audio::pulse
