#include "tests/support/SoundServer.h"

#include "tests/support/Eventually.h"
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
                                               std::vector<SinkSpec> sinks,
                                               std::optional<ChainSpec> chain) {
    if (kind == "pulseaudio") {
        return std::make_unique<PulseServer>(folder, std::move(sinks), std::move(chain));
    }
    if (kind == "pipewire") {
        return std::make_unique<PipeWireServer>(folder, std::move(sinks), std::move(chain));
    }
    throw std::invalid_argument("unknown sound server: " + kind);
}

SoundServer::SoundServer(std::string folder, std::vector<SinkSpec> sinks,
                         std::optional<ChainSpec> chain, std::string socket)
    : folder_(std::move(folder)), sinks_(std::move(sinks)), chain_(std::move(chain)),
      socket_(std::move(socket)) {
    makeDirs(folder_ + "/home");
    makeDirs(folder_ + "/runtime");
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
    players_.clear();
    control_.reset();
    while (!processes_.empty()) {
        processes_.back()->stop();
        processes_.pop_back();
    }
}

void SoundServer::kill() {
    for (auto& process : processes_) {
        process->kill();
    }
    stop();
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

PulseClient& SoundServer::client() const {
    if (PulseClient* client = control()) {
        return *client;
    }
    throw std::runtime_error("the sound server does not answer:\n" + log());
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

void SoundServer::play(const std::string& sink) {
    players_.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{"paplay", "--raw", "--device=" + sink, "/dev/zero"},
        environment({"PULSE_SERVER=" + address()}), folder_ + "/log"));
}

void SoundServer::runTool(const std::vector<std::string>& argv) const {
    // A tool may come before WirePlumber has made the ports it names.
    bool succeeded = eventually(
        [&] {
            ChildProcess tool(argv, environment({}), folder_ + "/log");
            return tool.waitForExit(10s) == 0;
        },
        3s);
    if (!succeeded) {
        throw std::runtime_error(argv.front() + " " + argv.back() + " failed:\n" + log());
    }
}

std::uint32_t SoundServer::sinkIndex(const std::string& name) const {
    auto sink = client().sink(name);
    return sink ? sink->index : PA_INVALID_INDEX;
}

void SoundServer::waitUntilReady() const {
    auto ready = [&](PulseClient& client) {
        auto chosen = client.defaultSink();
        return std::all_of(sinks_.begin(), sinks_.end(),
                           [&](const SinkSpec& s) { return client.sink(s.name).has_value(); }) &&
               std::any_of(sinks_.begin(), sinks_.end(),
                           [&](const SinkSpec& s) { return s.name == chosen; });
    };
    bool ended = false;
    bool answered = eventually([&] {
        ended = std::any_of(processes_.begin(), processes_.end(),
                            [](const auto& p) { return !p->running(); });
        PulseClient* client = ended ? nullptr : control();
        return ended || (client && ready(*client));
    });
    if (ended || !answered) {
        throw std::runtime_error(std::string(ended ? "the sound server ended:\n"
                                                   : "the sound server did not get ready:\n") +
                                 log());
    }
    std::vector<std::uint32_t> outputs;
    // EasyEffects' output is no stream a client could see.
    if (chain_ && chain_->kind != ChainSpec::Kind::EasyEffects) {
        for (const std::string& output : chain_->outputs) {
            outputs.push_back(sinkIndex(output));
        }
    }
    waitForChain(outputs);
}

std::vector<PulseClient::Stream> SoundServer::chainStreams() const {
    auto streams = client().streams();
    std::erase_if(streams, [](const PulseClient::Stream& stream) {
        return stream.client != PA_INVALID_INDEX && stream.linkGroup.empty();
    });
    return streams;
}

void SoundServer::waitForChain(std::vector<std::uint32_t> sinks) const {
    std::sort(sinks.begin(), sinks.end());
    bool there = eventually([&] {
        std::vector<std::uint32_t> now;
        for (const PulseClient::Stream& stream : chainStreams()) {
            now.push_back(stream.sink);
        }
        std::sort(now.begin(), now.end());
        return now == sinks;
    });
    if (!there) {
        throw std::runtime_error("the output of the chain is not where it should be:\n" + log());
    }
}

namespace {

// The script lines that make the chain on PulseAudio.
std::string pulseModules(const ChainSpec& chain) {
    using Kind = ChainSpec::Kind;
    std::string outputs;
    for (const std::string& output : chain.outputs) {
        outputs += (outputs.empty() ? "" : ",") + output;
    }
    const std::string sink = " sink_name=" + chain.name;
    switch (chain.kind) {
    case Kind::Remap:
        return "load-module module-remap-sink" + sink + " master=" + outputs + "\n";
    case Kind::Virtual:
        return "load-module module-virtual-sink" + sink + " master=" + outputs + "\n";
    case Kind::Combine:
        return "load-module module-combine-sink" + sink + " slaves=" + outputs + "\n";
    case Kind::Loopback:
        // Without source_dont_move the loopback would follow every new default to its monitor.
        return "load-module module-null-sink" + sink +
               "\nload-module module-loopback source=" + chain.name + ".monitor sink=" + outputs +
               " source_dont_move=true\n";
    default:
        throw std::invalid_argument(chain.name + ": PulseAudio has no such chain");
    }
}

} // namespace

PulseServer::PulseServer(const std::string& folder, std::vector<SinkSpec> sinks,
                         std::optional<ChainSpec> chain)
    : SoundServer(folder, std::move(sinks), std::move(chain), folder + "/native") {
    std::string script =
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket_ + "\n";
    for (const SinkSpec& sink : sinks_) {
        // One quoted list of properties, separated by spaces; the description in single quotes
        // may hold spaces of its own.
        script += "load-module module-null-sink sink_name=" + sink.name +
                  " sink_properties=\"device.form_factor=" + sink.formFactor +
                  " device.description='" + sink.description + "'\"\n";
    }
    if (chain_) {
        script += pulseModules(*chain_);
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

void PulseServer::moveChain(const std::string& sink) {
    for (const PulseClient::Stream& stream : chainStreams()) {
        if (!client().moveStream(stream.index, sink)) {
            throw std::runtime_error("the output of the chain cannot move to " + sink);
        }
    }
    waitForChain({sinkIndex(sink)});
}

void SoundServer::unlinkChain() {
    throw std::logic_error("PulseAudio moves a stream in one step, never showing it between sinks");
}

namespace {

std::string nullSink(const std::string& name, const std::string& properties, int priority) {
    // WirePlumber makes the sink of the highest priority the default one.
    return "{ factory = adapter args = { factory.name = support.null-audio-sink "
           "media.class = Audio/Sink audio.position = [ FL FR ] node.name = \"" +
           name + "\" " + properties + " priority.session = " + std::to_string(priority) + " } }\n";
}

// The configuration module that makes the chain on PipeWire; its output stream is named after
// the chain, so that it can be unlinked by name.
std::string pipeWireModule(const ChainSpec& chain) {
    using Kind = ChainSpec::Kind;
    const std::string sides =
        "audio.position = [ FL FR ] capture.props = { node.name = \"" + chain.name +
        "\" media.class = Audio/Sink } playback.props = { node.name = \"" + chain.name +
        ".output\" node.passive = true target.object = \"" + chain.outputs.front() + "\" }";
    switch (chain.kind) {
    case Kind::FilterChain:
        return "{ name = libpipewire-module-filter-chain args = { filter.graph = { nodes = [ { "
               "type = builtin name = copy label = copy } ] } " +
               sides + " } }\n";
    case Kind::Loopback:
        return "{ name = libpipewire-module-loopback args = { " + sides + " } }\n";
    case Kind::Combine: {
        std::string matches;
        for (const std::string& output : chain.outputs) {
            matches += "{ node.name = \"" + output + "\" } ";
        }
        const std::string rules =
            "stream.rules = [ { matches = [ " + matches + "] actions = { create-stream = { } } } ]";
        const std::string sink = "node.name = \"" + chain.name + "\" ";
        return "{ name = libpipewire-module-combine-stream args = { combine.mode = sink " + sink +
               "combine.props = { audio.position = [ FL FR ] } " + rules + " } }\n";
    }
    default:
        throw std::invalid_argument(chain.name + ": PipeWire makes no such chain by itself");
    }
}

} // namespace

PipeWireServer::PipeWireServer(const std::string& folder, std::vector<SinkSpec> sinks,
                               std::optional<ChainSpec> chain)
    : SoundServer(folder, std::move(sinks), std::move(chain), folder + "/runtime/pulse/native") {
    makeDirs(folder_ + "/config/pipewire/pipewire.conf.d");
    std::string objects = "context.objects = [\n", modules = "context.modules = [\n";
    int priority = 2000;
    for (const SinkSpec& sink : sinks_) {
        objects += nullSink(sink.name,
                            "node.description = \"" + sink.description +
                                "\" device.form_factor = \"" + sink.formFactor + "\"",
                            priority--);
    }
    if (chain_ && chain_->kind == ChainSpec::Kind::EasyEffects) {
        // Its own volume is not heard: EasyEffects reads the monitor at full level.
        objects += nullSink(chain_->name,
                            "application.id = \"com.github.wwmm.easyeffects\" "
                            "node.virtual = true monitor.channel-volumes = false",
                            1);
    } else if (chain_) {
        modules += pipeWireModule(*chain_);
    }
    // Added to the main configuration's objects and modules, module-access among them, without
    // which clients hang.
    writeAll(folder_ + "/config/pipewire/pipewire.conf.d/sonvela-test-sinks.conf",
             objects + "]\n" + modules + "]\n");
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
    linked_ = chain_ ? chain_->outputs.front() : "";
    if (chain_ && chain_->kind == ChainSpec::Kind::EasyEffects) {
        link(linked_, true);
    }
    if (firstStart && sinks_.size() > 1) {
        // Until WirePlumber has taken in every sink, a switch can be acknowledged and lost, and
        // a connection made meanwhile may refuse switches for as long as it lasts. Once a
        // switch to the last sink and back works, later connections and switches do. Not after
        // a restart, where the switches would hide whether a client noticed the restart.
        switchDefault(sinks_.back().name);
        switchDefault(sinks_.front().name);
    }
}

void PipeWireServer::link(const std::string& sink, bool linked) {
    const std::string from = chain_->kind == ChainSpec::Kind::EasyEffects
                                 ? chain_->name + ":monitor_"
                                 : chain_->name + ".output:output_";
    for (const char* channel : {"FL", "FR"}) {
        std::vector<std::string> argv = {"pw-link", from + channel, sink + ":playback_" + channel};
        if (!linked) {
            argv.insert(argv.begin() + 1, "--disconnect");
        }
        runTool(argv);
    }
    linked_ = linked ? sink : "";
}

void PipeWireServer::moveChain(const std::string& sink) {
    if (chain_->kind == ChainSpec::Kind::EasyEffects) {
        if (!linked_.empty()) {
            link(linked_, false);
        }
        return link(sink, true);
    }
    for (const PulseClient::Stream& stream : chainStreams()) {
        runTool({"pw-metadata", stream.node, "target.object", sink});
    }
    waitForChain({sinkIndex(sink)});
    linked_ = sink;
}

void PipeWireServer::unlinkChain() {
    link(linked_, false);
    // WirePlumber leaves it so: it still counts the links as made.
    waitForChain({PA_INVALID_INDEX});
}

} // namespace sonvela::test
