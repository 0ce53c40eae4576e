#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/SoundServer.h"

#include <memory>

namespace sonvela::test {

// A private PipeWire: pipewire, wireplumber and pipewire-pulse on a session bus of their own,
// with HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME and XDG_STATE_HOME inside the folder given. The
// null sinks come from a pipewire.conf.d file, so they are back after a kill and a start.
class PipeWireServer : public SoundServer {
public:
    PipeWireServer(const std::string& folder, std::vector<SinkSpec> sinks);
    ~PipeWireServer() override;

    void start() override;
    void stop() override;
    void kill() override;
    void freeze(bool frozen) override;
    std::string log() const override;

private:
    std::string logPath() const { return folder_ + "/pipewire.log"; }
    std::vector<std::string> environment() const;
    void writeSinks() const;
    std::unique_ptr<ChildProcess> spawn(const std::string& program) const;
    void waitForSocket(const std::string& path, ChildProcess& owner) const;

    // In the order they start; the bus stays up across kill() and start().
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> pipewire_;
    std::unique_ptr<ChildProcess> wireplumber_;
    std::unique_ptr<ChildProcess> pulse_;
};

} // namespace sonvela::test
