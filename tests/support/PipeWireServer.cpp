#include "tests/support/PipeWireServer.h"

#include "tests/support/SessionBus.h"
#include "tests/support/TempHome.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace sonvela::test {

PipeWireServer::PipeWireServer(const std::string& folder, std::vector<SinkSpec> sinks)
    : SoundServer(folder, std::move(sinks), folder + "/runtime/pulse/native") {
    for (const char* sub : {"/home", "/config/pipewire/pipewire.conf.d", "/state", "/runtime"}) {
        makeDirs(folder_ + sub);
    }
    std::filesystem::permissions(folder_ + "/runtime", std::filesystem::perms::owner_all);
    writeSinks();
}

PipeWireServer::~PipeWireServer() {
    stop();
}

std::vector<std::string> PipeWireServer::environment() const {
    const char* path = std::getenv("PATH");
    return {
        "HOME=" + folder_ + "/home",
        "XDG_CONFIG_HOME=" + folder_ + "/config",
        "XDG_STATE_HOME=" + folder_ + "/state",
        "XDG_RUNTIME_DIR=" + folder_ + "/runtime",
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + folder_ + "/bus",
        std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
    };
}

void PipeWireServer::writeSinks() const {
    std::string objects = "context.objects = [\n";
    int priority = 2000;
    for (const SinkSpec& sink : sinks_) {
        // WirePlumber makes the sink of the highest priority the default one.
        objects += "  { factory = adapter args = {\n"
                   "      factory.name = support.null-audio-sink\n"
                   "      media.class = Audio/Sink\n"
                   "      audio.position = [ FL FR ]\n"
                   "      node.name = \"" +
                   sink.name +
                   "\"\n"
                   "      node.description = \"" +
                   sink.description +
                   "\"\n"
                   "      device.form_factor = \"" +
                   sink.formFactor +
                   "\"\n"
                   "      priority.session = " +
                   std::to_string(priority--) +
                   "\n"
                   "  } }\n";
    }
    objects += "]\n";
    writeAll(folder_ + "/config/pipewire/pipewire.conf.d/sonvela-test-sinks.conf", objects);
}

std::unique_ptr<ChildProcess> PipeWireServer::spawn(const std::string& program) const {
    return std::make_unique<ChildProcess>(std::vector<std::string>{program}, environment(),
                                          logPath());
}

void PipeWireServer::waitForSocket(const std::string& path, ChildProcess& owner) const {
    if (!owner.waitForSocket(path)) {
        throw std::runtime_error("no answer on " + path + ":\n" + log());
    }
}

void PipeWireServer::start() {
    const bool firstStart = !bus_;
    if (!bus_) {
        bus_ = startSessionBus(folder_ + "/bus", environment(), logPath());
    }
    pipewire_ = spawn("pipewire");
    waitForSocket(folder_ + "/runtime/pipewire-0", *pipewire_);
    wireplumber_ = spawn("wireplumber");
    pulse_ = spawn("pipewire-pulse");
    waitUntilReady(
        [this] { return pipewire_->running() && wireplumber_->running() && pulse_->running(); });
    if (firstStart && sinks_.size() > 1) {
        // Until WirePlumber has taken in every sink, a switch can be acknowledged and lost, and
        // a connection made meanwhile may refuse switches for as long as it lasts. Once a
        // switch to the last sink and back works, later connections and switches do. Not after
        // a restart, where the switches would hide whether a client noticed the restart.
        switchDefault(sinks_.back().name);
        switchDefault(sinks_.front().name);
    }
}

void PipeWireServer::stop() {
    dropControl();
    for (auto* process : {&pulse_, &wireplumber_, &pipewire_, &bus_}) {
        if (*process) {
            (*process)->stop();
            process->reset();
        }
    }
}

void PipeWireServer::kill() {
    dropControl();
    for (auto* process : {&pulse_, &wireplumber_, &pipewire_}) {
        if (*process) {
            (*process)->kill();
            process->reset();
        }
    }
}

void PipeWireServer::freeze(bool frozen) {
    pulse_->signal(frozen ? SIGSTOP : SIGCONT);
}

std::string PipeWireServer::log() const {
    return readAll(logPath());
}

} // namespace sonvela::test
