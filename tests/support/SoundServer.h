#pragma once

#include "tests/support/ChildProcess.h"

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
// own. The first sink is the default one when the server starts. The base owns the server's
// processes and their log; a kind of server only writes its configuration and starts them.
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

    // Starts it (again, after kill()) and waits until it answers with every sink and a default
    // sink; throws std::runtime_error, with the server's output, when it does not.
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
    // The default sink as a new connection sees it, for failure messages.
    std::string defaultSink() const;
    // Makes the sink the default and waits until the server reports it; throws when it does
    // not happen.
    void switchDefault(const std::string& sink) const;

protected:
    SoundServer(std::string folder, std::vector<SinkSpec> sinks, std::string socket);

    std::vector<std::string> environment(const std::vector<std::string>& extra) const;
    ChildProcess& spawn(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment);
    // Polls until the server answers as start() promises, or throws.
    void waitUntilReady() const;

    std::string folder_;
    std::vector<SinkSpec> sinks_;
    std::string socket_;
    std::vector<std::unique_ptr<ChildProcess>> processes_;

private:
    // The fixture's own connection, made again when it was lost; nullptr when the server does
    // not answer. One long connection: PipeWire 0.3.65 loses default-sink changes on their way
    // to other clients, the helper among them, while connections come and go.
    PulseClient* control() const;

    mutable std::unique_ptr<PulseClient> control_;
};

// pulseaudio -n with the native protocol on a socket in the folder and the null sinks.
class PulseServer : public SoundServer {
public:
    PulseServer(const std::string& folder, std::vector<SinkSpec> sinks);
    void start() override;
};

// pipewire, wireplumber and pipewire-pulse on a session bus of their own (which stays up across
// kill() and start()); the null sinks come from a pipewire.conf.d file.
class PipeWireServer : public SoundServer {
public:
    PipeWireServer(const std::string& folder, std::vector<SinkSpec> sinks);
    ~PipeWireServer() override;
    void start() override;

private:
    std::unique_ptr<ChildProcess> bus_;
};

} // namespace sonvela::test
