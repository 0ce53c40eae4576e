#include "tests/support/SoundServer.h"

#include "tests/support/Eventually.h"
#include "tests/support/PipeWireServer.h"
#include "tests/support/PulseClient.h"
#include "tests/support/PulseServer.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace sonvela::test {

namespace {

constexpr auto kStartDeadline = std::chrono::seconds(10);
constexpr auto kSwitchWait = std::chrono::seconds(1);
constexpr auto kRetryWait = std::chrono::milliseconds(100);
constexpr auto kPollWait = std::chrono::milliseconds(10);

} // namespace

std::unique_ptr<SoundServer> SoundServer::make(const std::string& kind, const std::string& folder,
                                               std::vector<SinkSpec> sinks) {
    if (kind == "pulseaudio") {
        return std::make_unique<PulseServer>(folder, std::move(sinks));
    }
    if (kind == "pipewire") {
        return std::make_unique<PipeWireServer>(folder, std::move(sinks));
    }
    throw std::invalid_argument("unknown sound server: " + kind);
}

SoundServer::SoundServer(std::string folder, std::vector<SinkSpec> sinks, std::string socket)
    : folder_(std::move(folder)), sinks_(std::move(sinks)), socket_(std::move(socket)) {
    makeDirs(folder_);
}

SoundServer::~SoundServer() = default;

PulseClient* SoundServer::control() const {
    if (!control_ || !control_->connected()) {
        control_ = PulseClient::tryConnect(address());
    }
    return control_.get();
}

void SoundServer::dropControl() const {
    control_.reset();
}

std::string SoundServer::defaultSink() const {
    auto client = PulseClient::tryConnect(address());
    return client ? client->defaultSink() : "";
}

void SoundServer::switchDefault(const std::string& sink) const {
    auto other = std::find_if(sinks_.begin(), sinks_.end(),
                              [&](const SinkSpec& s) { return s.name != sink; });
    auto end = std::chrono::steady_clock::now() + kStartDeadline;
    for (bool retry = false; std::chrono::steady_clock::now() < end; retry = true) {
        if (retry) {
            // A connection made while WirePlumber sets up may refuse or lose switches for good.
            dropControl();
            std::this_thread::sleep_for(kRetryWait);
        }
        PulseClient* client = control();
        if (client && retry && other != sinks_.end()) {
            // WirePlumber may pass over a sink it is still setting up, and it looks again
            // only when the wish changes.
            client->setDefaultSink(other->name);
        }
        if (client && client->setDefaultSink(sink) &&
            eventually([&] { return client->defaultSink() == sink; }, kSwitchWait)) {
            return;
        }
    }
    throw std::runtime_error("the default sink cannot be set to " + sink + ":\n" + log());
}

void SoundServer::waitUntilReady(const std::function<bool()>& alive) const {
    auto end = std::chrono::steady_clock::now() + kStartDeadline;
    while (std::chrono::steady_clock::now() < end) {
        if (!alive()) {
            throw std::runtime_error("the sound server ended:\n" + log());
        }
        if (PulseClient* client = control(); client && hasEverySinkAndADefault(*client)) {
            return;
        }
        std::this_thread::sleep_for(kPollWait);
    }
    throw std::runtime_error("the sound server did not get ready:\n" + log());
}

bool SoundServer::hasEverySinkAndADefault(PulseClient& client) const {
    auto names = client.sinkNames();
    bool everySink = std::all_of(sinks_.begin(), sinks_.end(), [&](const SinkSpec& s) {
        return std::find(names.begin(), names.end(), s.name) != names.end();
    });
    auto chosen = client.defaultSink();
    return everySink && std::any_of(sinks_.begin(), sinks_.end(),
                                    [&](const SinkSpec& s) { return s.name == chosen; });
}

} // namespace sonvela::test
