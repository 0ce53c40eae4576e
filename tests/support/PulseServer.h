#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/SoundServer.h"

#include <memory>

namespace sonvela::test {

// A private pulseaudio daemon: no configuration of the machine's, no sound hardware, no
// restore modules; its own HOME, runtime folder and socket inside the folder given.
class PulseServer : public SoundServer {
public:
    PulseServer(const std::string& folder, std::vector<SinkSpec> sinks);
    ~PulseServer() override;

    void start() override;
    void stop() override;
    void kill() override;
    void freeze(bool frozen) override;
    std::string log() const override;

private:
    std::string logPath() const { return folder_ + "/pulseaudio.log"; }
    void writeScript() const;

    std::unique_ptr<ChildProcess> daemon_;
};

} // namespace sonvela::test
