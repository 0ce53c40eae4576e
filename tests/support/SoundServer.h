#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/PulseClient.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonvela::test {

// A null sink of a test server; the form factor decides its output type ("headphone" is "hdpn").
struct SinkSpec {
    std::string name;
    std::string formFactor;
    std::string description;
};

// An effects sink in front of null sinks, set up the way desktops do it: programs play into
// the sink `name`, and the sound goes on to the sinks in `outputs`.
struct ChainSpec {
    enum class Kind {
        Remap,       // PulseAudio module-remap-sink
        Virtual,     // PulseAudio module-virtual-sink
        Combine,     // PulseAudio module-combine-sink, PipeWire combine-stream: every output
        Loopback,    // a null sink whose monitor a loopback plays (PipeWire: module-loopback)
        FilterChain, // PipeWire filter-chain with the builtin copy plugin
        EasyEffects, // a virtual null sink like EasyEffects' own, its monitor linked by hand
    };
    Kind kind;
    std::string name;
    std::vector<std::string> outputs;
};

// A private sound server for one test, with everything it keeps inside a folder of the test's
// own, and at most one chain. The first sink is the default one when the server starts. The base
// owns the server's processes and their log; a kind of server only writes its configuration and
// starts them.
class SoundServer {
public:
    // "pulseaudio" or "pipewire".
    static std::unique_ptr<SoundServer> make(const std::string& kind, const std::string& folder,
                                             std::vector<SinkSpec> sinks,
                                             std::optional<ChainSpec> chain = std::nullopt);

    virtual ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // What PULSE_SERVER must say for a client of this server: "unix:" and the socket's path.
    std::string address() const { return "unix:" + socket_; }

    // Starts it (again, after kill()) and waits until it answers with every sink, the chain
    // playing on, and one of the sinks as the default; throws std::runtime_error, with the
    // server's output, when it does not.
    virtual void start() = 0;
    // SIGTERM, then SIGKILL, newest process first.
    void stop();
    // kill -9 of every process of the server, as in a crash; start() brings it back on the
    // same socket.
    void kill();
    // Stops or resumes the process that answers clients (SIGSTOP, SIGCONT), as a server that
    // hangs and comes back.
    void freeze(bool frozen);

    // What the server's processes wrote, for failure messages.
    std::string log() const;
    // Makes the sink the default and waits until the server reports it; throws when it does
    // not happen.
    void switchDefault(const std::string& sink) const;

    // Moves the chain's output to the sink, as a mixer does, and waits until it plays there.
    virtual void moveChain(const std::string& sink) = 0;
    // Leaves the chain's output playing into no sink, as halfway through a move; only PipeWire
    // shows this to clients.
    virtual void unlinkChain();
    // The streams that carry the chain's output on: the ones a module or a link group made,
    // never a player's.
    std::vector<PulseClient::Stream> chainStreams() const;
    // Silence played into the sink until the server stops: only while something plays does
    // PipeWire tell clients of a move, and a PulseAudio loopback adjust its rate.
    void play(const std::string& sink);

protected:
    SoundServer(std::string folder, std::vector<SinkSpec> sinks, std::optional<ChainSpec> chain,
                std::string socket);

    std::vector<std::string> environment(const std::vector<std::string>& extra) const;
    ChildProcess& spawn(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment);
    // Polls until the server answers with every sink and one of them as the default, then until
    // the chain plays into its outputs; throws when it does not.
    void waitUntilReady() const;
    // Runs one of the server's command line tools to its end; throws when it fails.
    void runTool(const std::vector<std::string>& argv) const;
    // Waits until the chain's streams play into these sinks, one each (PA_INVALID_INDEX: none).
    void waitForChain(std::vector<std::uint32_t> sinks) const;
    std::uint32_t sinkIndex(const std::string& name) const;
    PulseClient& client() const;

    std::string folder_;
    std::vector<SinkSpec> sinks_;
    std::optional<ChainSpec> chain_;
    std::string socket_;
    std::vector<std::unique_ptr<ChildProcess>> processes_;

private:
    // The fixture's own connection, made again when it was lost; nullptr when the server does
    // not answer. One long connection: PipeWire 0.3.65 loses default-sink changes on their way
    // to other clients, the helper among them, while connections come and go.
    PulseClient* control() const;

    mutable std::unique_ptr<PulseClient> control_;
    std::vector<std::unique_ptr<ChildProcess>> players_;
};

// pulseaudio -n with the native protocol on a socket in the folder, the null sinks and the
// chain's modules.
class PulseServer : public SoundServer {
public:
    PulseServer(const std::string& folder, std::vector<SinkSpec> sinks,
                std::optional<ChainSpec> chain = std::nullopt);
    void start() override;
    void moveChain(const std::string& sink) override;
};

// pipewire, wireplumber and pipewire-pulse on a session bus of their own (which stays up across
// kill() and start()); the null sinks and chain come from a pipewire.conf.d file. Moves go
// through PipeWire's own tools: pactl loses some of them there.
class PipeWireServer : public SoundServer {
public:
    PipeWireServer(const std::string& folder, std::vector<SinkSpec> sinks,
                   std::optional<ChainSpec> chain = std::nullopt);
    ~PipeWireServer() override;
    void start() override;
    void moveChain(const std::string& sink) override;
    void unlinkChain() override;

private:
    // Links or unlinks the chain's output to the sink's playback ports: the monitor of a sink
    // like EasyEffects', the output stream of the others.
    void link(const std::string& sink, bool linked);

    std::unique_ptr<ChildProcess> bus_;
    // The sink the chain's output is linked to now.
    std::string linked_;
};

} // namespace sonvela::test
