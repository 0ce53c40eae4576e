#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sonvela::test {

class PulseClient;

// A null sink of a test server; the form factor decides its output type ("headphone" is "hdpn").
struct SinkSpec {
    std::string name;
    std::string formFactor;
    std::string description;
};

// A private sound server for one test, with everything it keeps inside a folder of the test's
// own. The first sink is the default one when the server starts.
class SoundServer {
public:
    // "pulseaudio" or "pipewire".
    static std::unique_ptr<SoundServer> make(const std::string& kind, const std::string& folder,
                                             std::vector<SinkSpec> sinks);

    virtual ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // What PULSE_SERVER must say for a client of this server: "unix:" and the socket's path.
    std::string address() const { return "unix:" + socket_; }
    const std::vector<SinkSpec>& sinks() const { return sinks_; }

    // Starts it (again, after kill()) and waits until it answers with every sink and a default
    // sink; throws std::runtime_error, with the server's output, when it does not.
    virtual void start() = 0;
    // Stops it by pid: SIGTERM, then SIGKILL.
    virtual void stop() = 0;
    // kill -9 of every process of the server, as in a crash; start() brings it back on the
    // same socket.
    virtual void kill() = 0;

    // Stops or resumes the process that answers clients (SIGSTOP, SIGCONT), as a server that
    // hangs and comes back.
    virtual void freeze(bool frozen) = 0;

    // What the server's processes wrote, for failure messages.
    virtual std::string log() const = 0;

    // The default sink as a new connection sees it, for failure messages.
    std::string defaultSink() const;
    // Makes the sink the default and waits until the server reports it; throws when it does
    // not happen.
    void switchDefault(const std::string& sink) const;

protected:
    SoundServer(std::string folder, std::vector<SinkSpec> sinks, std::string socket);

    // Polls until the server answers as start() promises, or throws.
    void waitUntilReady(const std::function<bool()>& alive) const;
    bool hasEverySinkAndADefault(PulseClient& client) const;
    // The fixture's own connection, made again when it was lost; nullptr when the server does
    // not answer. One long connection: PipeWire 0.3.65 loses default-sink changes on their way
    // to other clients, the helper among them, while connections come and go.
    PulseClient* control() const;
    void dropControl() const;

    std::string folder_;
    std::vector<SinkSpec> sinks_;
    std::string socket_;

private:
    mutable std::unique_ptr<PulseClient> control_;
};

} // namespace sonvela::test
