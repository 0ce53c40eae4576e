#include "tests/support/SoundServer.h"

#include "tests/support/Eventually.h"
#include "tests/support/PulseClient.h"
#include "tests/support/SessionBus.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace sonvela::test {

using namespace std::chrono_literals;

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
    for (const char* sub : {"/home", "/runtime"}) {
        makeDirs(folder_ + sub);
    }
    std::filesystem::permissions(folder_ + "/runtime", std::filesystem::perms::owner_all);
}

SoundServer::~SoundServer() {
    stop();
}

std::vector<std::string> SoundServer::environment(const std::vector<std::string>& extra) const {
    const char* path = std::getenv("PATH");
    std::vector<std::string> variables = {"HOME=" + folder_ + "/home",
                                          "XDG_RUNTIME_DIR=" + folder_ + "/runtime",
                                          std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
    variables.insert(variables.end(), extra.begin(), extra.end());
    return variables;
}

ChildProcess& SoundServer::spawn(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& environment) {
    processes_.push_back(std::make_unique<ChildProcess>(argv, environment, folder_ + "/log"));
    return *processes_.back();
}

void SoundServer::stop() {
    control_.reset();
    while (!processes_.empty()) {
        processes_.back()->stop();
        processes_.pop_back();
    }
}

void SoundServer::kill() {
    control_.reset();
    for (auto& process : processes_) {
        process->kill();
    }
    processes_.clear();
}

void SoundServer::freeze(bool frozen) {
    processes_.back()->signal(frozen ? SIGSTOP : SIGCONT);
}

std::string SoundServer::log() const {
    return readAll(folder_ + "/log");
}

PulseClient* SoundServer::control() const {
    if (!control_ || !control_->connected()) {
        control_ = PulseClient::tryConnect(address());
    }
    return control_.get();
}

std::string SoundServer::defaultSink() const {
    auto client = PulseClient::tryConnect(address());
    return client ? client->defaultSink() : "";
}

void SoundServer::switchDefault(const std::string& sink) const {
    auto end = std::chrono::steady_clock::now() + 10s;
    for (bool retry = false; std::chrono::steady_clock::now() < end; retry = true) {
        if (retry) {
            // A connection made while WirePlumber sets up may refuse or lose switches for good.
            control_.reset();
            std::this_thread::sleep_for(100ms);
        }
        PulseClient* client = control();
        if (client && retry && sinks_.size() > 1) {
            // WirePlumber may pass over a sink it is still setting up, and it looks again
            // only when the wish changes.
            client->setDefaultSink(sinks_[sinks_.front().name == sink ? 1 : 0].name);
        }
        if (client && client->setDefaultSink(sink) &&
            eventually([&] { return client->defaultSink() == sink; }, 1s)) {
            return;
        }
    }
    throw std::runtime_error("the default sink cannot be set to " + sink + ":\n" + log());
}

void SoundServer::waitUntilReady() const {
    auto ready = [&](PulseClient& client) {
        auto names = client.sinkNames();
        auto chosen = client.defaultSink();
        return std::all_of(sinks_.begin(), sinks_.end(),
                           [&](const SinkSpec& s) {
                               return std::find(names.begin(), names.end(), s.name) != names.end();
                           }) &&
               std::any_of(sinks_.begin(), sinks_.end(),
                           [&](const SinkSpec& s) { return s.name == chosen; });
    };
    auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        if (std::any_of(processes_.begin(), processes_.end(),
                        [](const auto& p) { return !p->running(); })) {
            throw std::runtime_error("the sound server ended:\n" + log());
        }
        if (PulseClient* client = control(); client && ready(*client)) {
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    throw std::runtime_error("the sound server did not get ready:\n" + log());
}

PulseServer::PulseServer(const std::string& folder, std::vector<SinkSpec> sinks)
    : SoundServer(folder, std::move(sinks), folder + "/native") {
    std::string script =
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket_ + "\n";
    for (const SinkSpec& sink : sinks_) {
        // One quoted list of properties, separated by spaces; the description in single quotes
        // may hold spaces of its own.
        script += "load-module module-null-sink sink_name=" + sink.name +
                  " sink_properties=\"device.form_factor=" + sink.formFactor +
                  " device.description='" + sink.description + "'\"\n";
    }
    writeAll(folder_ + "/server.pa", script + "set-default-sink " + sinks_.front().name + "\n");
}

void PulseServer::start() {
    spawn({"pulseaudio", "-n", "-F", folder_ + "/server.pa", "--daemonize=no",
           "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr"},
          environment({"PULSE_RUNTIME_PATH=" + folder_ + "/runtime",
                       "PULSE_STATE_PATH=" + folder_ + "/home/state"}));
    waitUntilReady();
}

PipeWireServer::PipeWireServer(const std::string& folder, std::vector<SinkSpec> sinks)
    : SoundServer(folder, std::move(sinks), folder + "/runtime/pulse/native") {
    makeDirs(folder_ + "/config/pipewire/pipewire.conf.d");
    std::string objects = "context.objects = [\n";
    int priority = 2000;
    for (const SinkSpec& sink : sinks_) {
        // WirePlumber makes the sink of the highest priority the default one.
        objects += "{ factory = adapter args = { factory.name = support.null-audio-sink "
                   "media.class = Audio/Sink audio.position = [ FL FR ] node.name = \"" +
                   sink.name + "\" node.description = \"" + sink.description +
                   "\" device.form_factor = \"" + sink.formFactor +
                   "\" priority.session = " + std::to_string(priority--) + " } }\n";
    }
    writeAll(folder_ + "/config/pipewire/pipewire.conf.d/sonvela-test-sinks.conf", objects + "]\n");
}

PipeWireServer::~PipeWireServer() {
    stop();
}

void PipeWireServer::start() {
    auto variables = environment({"XDG_CONFIG_HOME=" + folder_ + "/config",
                                  "XDG_STATE_HOME=" + folder_ + "/state",
                                  "DBUS_SESSION_BUS_ADDRESS=unix:path=" + folder_ + "/bus"});
    const bool firstStart = !bus_;
    if (firstStart) {
        bus_ = startSessionBus(folder_ + "/bus", variables, folder_ + "/log");
    }
    if (!spawn({"pipewire"}, variables).waitForSocket(folder_ + "/runtime/pipewire-0")) {
        throw std::runtime_error("pipewire does not answer:\n" + log());
    }
    spawn({"wireplumber"}, variables);
    spawn({"pipewire-pulse"}, variables);
    waitUntilReady();
    if (firstStart && sinks_.size() > 1) {
        // Until WirePlumber has taken in every sink, a switch can be acknowledged and lost, and
        // a connection made meanwhile may refuse switches for as long as it lasts. Once a
        // switch to the last sink and back works, later connections and switches do. Not after
        // a restart, where the switches would hide whether a client noticed the restart.
        switchDefault(sinks_.back().name);
        switchDefault(sinks_.front().name);
    }
}

} // namespace sonvela::test
