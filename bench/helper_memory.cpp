// The helper's memory on a busy desktop: a private server with 50 sinks and a stream playing
// into each, the helper started among them and the default switched across 20 of them. Prints
// the resident set's high-water mark against the limit of 6 MiB, on each server.
//
//   helper_memory [both|pulseaudio|pipewire]
#include "platform/plist/PlistFile.h"
#include "tests/support/Eventually.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/PulseClient.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TempHome.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

using namespace sonvela::test;
using namespace std::chrono_literals;

namespace {

constexpr int kSinks = 50;
constexpr long kLimitKiB = 6 * 1024;

long statusKiB(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stol(line.substr(key.size() + 1));
        }
    }
    return -1;
}

// Sinks of every kind the helper tells apart, in turn.
std::vector<SinkSpec> manySinks() {
    const char* formFactors[] = {"headphone", "tv", "hifi", "headset", "speaker"};
    std::vector<SinkSpec> sinks;
    for (int i = 0; i < kSinks; ++i) {
        std::string name = "sink" + std::to_string(i);
        sinks.push_back({name, formFactors[i % 5], "Sink " + std::to_string(i)});
    }
    return sinks;
}

void measure(const std::string& kind) {
    TempHome home;
    // PulseAudio keeps itself to 256 open files unless told otherwise, too few for 50 clients.
    makeDirs(home.path() + "/server/home/.config/pulse");
    writeAll(home.path() + "/server/home/.config/pulse/daemon.conf", "rlimit-nofile = 4096\n");
    auto server = SoundServer::make(kind, home.path() + "/server", manySinks());
    server->start();
    makeDirs(home.configHome() + "/Sonvela");
    platform::plist::writeXmlAtomically(
        home.configPlist(), platform::plist::Dictionary{{"hdpn", platform::plist::Value(0.75f)},
                                                        {"hdmi", platform::plist::Value(0.40f)},
                                                        {"line", platform::plist::Value(0.60f)},
                                                        {"hdst", platform::plist::Value(0.50f)}});
    auto control = PulseClient::tryConnect(server->address());
    if (!control) {
        throw std::runtime_error("the " + kind + " server does not answer:\n" + server->log());
    }
    for (int i = 0; i < kSinks; ++i) {
        server->play("sink" + std::to_string(i));
    }
    bool playing = eventually([&] { return control->streams().size() >= kSinks; }, 20s);

    HelperProcess helper(SONVELA_HELPER_PATH, home.path(), server->address());
    pid_t pid = helper.process().pid();
    std::this_thread::sleep_for(1500ms);
    long started = statusKiB(pid, "VmHWM");
    for (int i = 1; i <= 20; ++i) {
        server->switchDefault("sink" + std::to_string(i));
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(500ms);
    long high = statusKiB(pid, "VmHWM");
    std::printf("%-10s %d sinks, %zu streams%s: helper RSS high-water %ld KiB after start-up, "
                "%ld KiB after %zu restores (anonymous %ld, files %ld KiB now); limit %ld KiB: "
                "%s\n",
                kind.c_str(), kSinks, control->streams().size(),
                playing ? "" : " (not all playing)", started, high, helper.restores().size(),
                statusKiB(pid, "RssAnon"), statusKiB(pid, "RssFile"), kLimitKiB,
                high <= kLimitKiB ? "within" : "OVER");
    helper.process().stop();
}

} // namespace

int main(int argc, char** argv) {
    std::string kind = argc > 1 ? argv[1] : "both";
    for (const char* each : {"pulseaudio", "pipewire"}) {
        if (kind == "both" || kind == each) {
            measure(each);
        }
    }
    return 0;
}
