#include "tests/support/PulseServer.h"

#include <csignal>

#include "tests/support/TempHome.h"

#include <cstdlib>

namespace sonvela::test {

PulseServer::PulseServer(const std::string& folder, std::vector<SinkSpec> sinks)
    : SoundServer(folder, std::move(sinks), folder + "/native") {
    makeDirs(folder_ + "/home");
    makeDirs(folder_ + "/runtime");
    writeScript();
}

PulseServer::~PulseServer() {
    stop();
}

void PulseServer::writeScript() const {
    std::string script =
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket_ + "\n";
    for (const SinkSpec& sink : sinks_) {
        // One quoted list of properties, separated by spaces; the description in single quotes
        // may hold spaces of its own.
        script += "load-module module-null-sink sink_name=" + sink.name +
                  " sink_properties=\"device.form_factor=" + sink.formFactor +
                  " device.description='" + sink.description + "'\"\n";
    }
    if (!sinks_.empty()) {
        script += "set-default-sink " + sinks_.front().name + "\n";
    }
    writeAll(folder_ + "/server.pa", script);
}

void PulseServer::start() {
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {
        "HOME=" + folder_ + "/home",
        "XDG_CONFIG_HOME=" + folder_ + "/home/.config",
        "XDG_RUNTIME_DIR=" + folder_ + "/runtime",
        "PULSE_RUNTIME_PATH=" + folder_ + "/runtime",
        "PULSE_STATE_PATH=" + folder_ + "/home/state",
        std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
    };
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "-n", "-F", folder_ + "/server.pa", "--daemonize=no",
                                 "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr"},
        environment, logPath());
    waitUntilReady([this] { return daemon_->running(); });
}

void PulseServer::stop() {
    dropControl();
    if (daemon_) {
        daemon_->stop();
        daemon_.reset();
    }
}

void PulseServer::kill() {
    dropControl();
    if (daemon_) {
        daemon_->kill();
        daemon_.reset();
    }
}

void PulseServer::freeze(bool frozen) {
    daemon_->signal(frozen ? SIGSTOP : SIGCONT);
}

std::string PulseServer::log() const {
    return readAll(logPath());
}

} // namespace sonvela::test
