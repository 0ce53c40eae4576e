// How fast the right volume follows an output switch, on a private sound server with two sinks
// of different kinds: the helper, and in the same run and on the same server a minimal
// one-thread restorer (minimal_restorer.cpp) and the shell script people use today. A client
// of its own times each switch to the server's event, to the sink seen muted and to the stored
// volume seen applied and unmuted. Helper and minimal restorer are compared in turns.
//
//   restore_latency [switches] [both|pulseaudio|pipewire] [--load]
//
// --load keeps both cores busy with two other processes while it measures.
#include "bench/SinkObserver.h"
#include "platform/plist/PlistFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/PulseClient.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace sonvela::test;
using namespace std::chrono;
using Clock = SinkObserver::Clock;

namespace {

struct Target {
    const char* sink;
    float volume;
};
const Target kTargets[] = {{"phones", 0.75f}, {"tv", 0.40f}};

struct Latencies {
    // Milliseconds from the switch: the server's event at another client, the target seen muted
    // and seen restored.
    std::vector<double> told, muted, restored;
    int missed = 0;
};

struct Bench {
    PulseClient& control;
    SinkObserver& observer;
};

// Before each switch another program puts the target at a wrong volume and unmutes it, then
// 30 ms of quiet: the case a user meets. Back to back, every switch finds the target at its
// stored volume already and only its mute and unmute are timed.
Latencies measure(Bench bench, int switches, bool quiet) {
    Latencies result;
    for (int i = 0; i < switches; ++i) {
        const Target& target = kTargets[(i + 1) % 2];
        if (quiet) {
            bench.control.setVolume(target.sink, 0.9f);
            bench.control.setMute(target.sink, false);
            std::this_thread::sleep_for(milliseconds(30));
        }
        bench.observer.arm(target.sink, target.volume);
        auto start = Clock::now();
        bench.control.setDefaultSink(target.sink);
        SinkObserver::Seen seen = bench.observer.wait(seconds(3));
        if (!seen.muted || !seen.restored) {
            ++result.missed;
            continue;
        }
        if (seen.told) {
            result.told.push_back(duration<double, std::milli>(*seen.told - start).count());
        }
        result.muted.push_back(duration<double, std::milli>(*seen.muted - start).count());
        result.restored.push_back(duration<double, std::milli>(*seen.restored - start).count());
    }
    return result;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    auto at = std::size_t(p / 100.0 * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

void print(const char* who, const char* how, const Latencies& l) {
    std::printf("%-8s %-13s switch -> restored p50 %6.3f  p95 %6.3f  p99 %6.3f  max %6.3f ms"
                "   (-> event p50 %6.3f, -> muted p50 %6.3f ms)",
                who, how, percentile(l.restored, 50), percentile(l.restored, 95),
                percentile(l.restored, 99), percentile(l.restored, 100), percentile(l.told, 50),
                percentile(l.muted, 50));
    std::printf(l.missed > 0 ? "  %d not seen restored within 3 s\n" : "\n", l.missed);
}

long procField(pid_t pid, const std::string& file, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(key.size()));
        }
    }
    return -1;
}

// User plus system time of the process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {
        fields >> skip;
    }
    long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

// Context switches of every thread: each wake-up is one.
long wakeUps(pid_t pid) {
    long total = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::string base = "task/" + task.path().filename().string() + "/status";
        total += procField(pid, base, "voluntary_ctxt_switches:") +
                 procField(pid, base, "nonvoluntary_ctxt_switches:");
    }
    return total;
}

std::vector<std::string> environmentFor(const SoundServer& server, const TempHome& home) {
    const char* path = std::getenv("PATH");
    return {"PULSE_SERVER=" + server.address(), "HOME=" + home.path(),
            std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
}

// 200 switches with no quiet in between, then: the final output at its stored volume, and
// nothing left muted.
void burst(Bench bench, HelperProcess& helper) {
    std::size_t before = helper.restores().size();
    for (int i = 1; i <= 200; ++i) {
        bench.control.setDefaultSink(kTargets[i % 2].sink);
    }
    std::this_thread::sleep_for(milliseconds(500));
    auto last = bench.control.sink(kTargets[0].sink);
    auto other = bench.control.sink(kTargets[1].sink);
    bool right = last && std::abs(last->volume - kTargets[0].volume) < 0.005f && !last->muted;
    int muted = (last && last->muted) + (other && other->muted);
    std::printf("helper   burst of 200 switches: %zu restores; final output %s; %d sinks left "
                "muted\n",
                helper.restores().size() - before, right ? "at its stored volume" : "WRONG", muted);
}

void measureHelper(Bench bench, const SoundServer& server, const TempHome& home, int switches) {
    HelperProcess helper(SONVELA_HELPER_PATH, home.path(), server.address());
    pid_t pid = helper.process().pid();
    // Past start-up, including the one look at the server a second after connecting.
    std::this_thread::sleep_for(milliseconds(1500));
    long idleHwm = procField(pid, "status", "VmHWM:");
    long wakeBefore = wakeUps(pid);
    std::this_thread::sleep_for(seconds(5));
    double idleWakeUps = double(wakeUps(pid) - wakeBefore) / 5.0;

    std::size_t restoresBefore = helper.restores().size();
    double cpuBefore = cpuSeconds(pid);
    Latencies quiet = measure(bench, switches, true);
    std::this_thread::sleep_for(milliseconds(300));
    std::size_t restores = helper.restores().size() - restoresBefore;
    double cpu = cpuSeconds(pid) - cpuBefore;
    print("helper", "quiet before", quiet);
    std::printf("helper   restores %zu for %d switches\n", restores, switches);
    restoresBefore = helper.restores().size();
    print("helper", "back to back", measure(bench, switches, false));
    std::this_thread::sleep_for(milliseconds(300));
    // The observer may miss a mute that the unmute follows within one of its queries; the log
    // tells whether the helper restored.
    std::printf("helper   back to back: restores %zu for %d switches\n",
                helper.restores().size() - restoresBefore, switches);
    burst(bench, helper);
    std::printf("helper   CPU %.3f ms per restore\n",
                cpu * 1000.0 / double(std::max<std::size_t>(restores, 1)));
    std::printf("helper   RSS high-water %ld KiB idle, %ld KiB after the run\n", idleHwm,
                procField(pid, "status", "VmHWM:"));
    std::printf("helper   %.1f wake-ups per second while idle\n", idleWakeUps);
    std::fflush(stdout);
    helper.process().stop();
}

// With a ceiling of 0.6 for the headphones: another program turns them up to 0.9, 200 times,
// timed to the volume seen back at the ceiling.
void measureCeiling(Bench bench, const SoundServer& server, const TempHome& home) {
    platform::plist::writeXmlAtomically(
        home.configHome() + "/Sonvela/ceilings.plist",
        platform::plist::Dictionary{{"hdpn", platform::plist::Value(0.6f)}});
    bench.control.setDefaultSink(kTargets[1].sink);
    HelperProcess helper(SONVELA_HELPER_PATH, home.path(), server.address());
    std::this_thread::sleep_for(milliseconds(500));
    bench.control.setDefaultSink(kTargets[0].sink);
    std::this_thread::sleep_for(milliseconds(100));
    std::vector<double> lowered;
    int missed = 0;
    for (int i = 0; i < 200; ++i) {
        bench.observer.arm(kTargets[0].sink, 0.6f);
        auto start = Clock::now();
        bench.control.setVolume(kTargets[0].sink, 0.9f);
        SinkObserver::Seen seen = bench.observer.wait(seconds(3));
        if (!seen.restored) {
            ++missed;
            continue;
        }
        lowered.push_back(duration<double, std::milli>(*seen.restored - start).count());
        std::this_thread::sleep_for(milliseconds(10));
    }
    std::printf("helper   rise above the ceiling -> back at it: p50 %6.3f  p99 %6.3f  max %6.3f ms "
                "over %zu rises%s\n",
                percentile(lowered, 50), percentile(lowered, 99), percentile(lowered, 100),
                lowered.size(), missed > 0 ? " (some not seen lowered)" : "");
    helper.process().stop();
    std::filesystem::remove(home.configHome() + "/Sonvela/ceilings.plist");
}

// Another restorer in place of the helper, measured the same way.
Latencies runOther(Bench bench, const char* who, const std::vector<std::string>& argv,
                   const SoundServer& server, const TempHome& home, int switches) {
    ChildProcess other(argv, environmentFor(server, home), home.path() + "/" + who + ".log");
    std::this_thread::sleep_for(milliseconds(500));
    Latencies quiet = measure(bench, switches, true);
    ::kill(-other.pid(), SIGTERM);
    return quiet;
}

Latencies measureOther(Bench bench, const char* who, const std::vector<std::string>& argv,
                       const SoundServer& server, const TempHome& home, int switches) {
    Latencies quiet = runOther(bench, who, argv, server, home, switches);
    print(who, "quiet before", quiet);
    return quiet;
}

void append(Latencies& to, const Latencies& more) {
    to.told.insert(to.told.end(), more.told.begin(), more.told.end());
    to.muted.insert(to.muted.end(), more.muted.begin(), more.muted.end());
    to.restored.insert(to.restored.end(), more.restored.begin(), more.restored.end());
    to.missed += more.missed;
}

// The helper and the minimal restorer take ten turns each, one after the other, so that both
// meet the same load from the rest of the machine.
std::pair<Latencies, Latencies> inTurns(Bench bench, const SoundServer& server,
                                        const TempHome& home, int switches) {
    constexpr int kTurns = 10;
    Latencies helper, minimal;
    for (int turn = 0; turn < kTurns; ++turn) {
        int count = switches / kTurns + (turn < switches % kTurns ? 1 : 0);
        {
            HelperProcess process(SONVELA_HELPER_PATH, home.path(), server.address());
            std::this_thread::sleep_for(milliseconds(1500));
            append(helper, measure(bench, count, true));
            process.process().stop();
        }
        append(minimal,
               runOther(bench, "minimal", {SONVELA_MINIMAL_RESTORER_PATH, "phones=0.75", "tv=0.40"},
                        server, home, count));
    }
    print("helper", "quiet, turns", helper);
    print("minimal", "quiet, turns", minimal);
    return {helper, minimal};
}

double ratio(const Latencies& helper, const Latencies& minimal, double p) {
    return percentile(helper.restored, p) / std::max(percentile(minimal.restored, p), 1e-9);
}

// Two processes that keep both cores busy for as long as they live.
std::vector<std::unique_ptr<ChildProcess>> load(bool wanted) {
    std::vector<std::unique_ptr<ChildProcess>> busy;
    for (int i = 0; wanted && i < 2; ++i) {
        busy.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"/bin/sh", "-c", "while :; do :; done"},
            std::vector<std::string>{}, "/dev/null"));
    }
    return busy;
}

// Helper, minimal restorer, ceiling and script on one private server; the helper against the
// minimal restorer as "kind p50 p99" ratios.
std::string benchServer(const std::string& kind, int switches, bool loaded) {
    TempHome home;
    auto server =
        SoundServer::make(kind, home.path() + "/server",
                          {{"phones", "headphone", "Headphones"}, {"tv", "tv", "Television"}});
    server->start();
    makeDirs(home.configHome() + "/Sonvela");
    platform::plist::writeXmlAtomically(
        home.configPlist(), platform::plist::Dictionary{{"hdpn", platform::plist::Value(0.75f)},
                                                        {"hdmi", platform::plist::Value(0.40f)}});
    auto control = PulseClient::tryConnect(server->address());
    SinkObserver observer(server->address());
    Bench bench{*control, observer};

    std::printf("\n%d default-sink switches on a private %s server%s\n", switches, kind.c_str(),
                loaded ? ", both cores kept busy" : "");
    measureHelper(bench, *server, home, switches);
    auto [helper, minimal] = inTurns(bench, *server, home, switches);
    char ratios[160];
    std::snprintf(ratios, sizeof ratios, "%-10s p50 %.2fx, p99 %.2fx (helper %.3f / %.3f ms)",
                  kind.c_str(), ratio(helper, minimal, 50), ratio(helper, minimal, 99),
                  percentile(helper.restored, 50), percentile(helper.restored, 99));
    std::printf("helper / minimal restorer: %s\n", ratios);
    measureCeiling(bench, *server, home);

    Latencies script =
        measureOther(bench, "script",
                     {"/usr/bin/setsid", "/bin/sh", SONVELA_SOURCE_DIR "/bench/volume_by_hand.sh",
                      "phones=75", "tv=40"},
                     *server, home, std::min(switches, 100));
    std::printf("helper is %.0fx faster than the script at p50\n",
                percentile(script.restored, 50) / std::max(percentile(helper.restored, 50), 1e-9));
    return ratios;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int switches = argc > 1 ? std::max(2, std::atoi(argv[1])) : 500;
    std::string kind = argc > 2 ? argv[2] : "both";
    bool loaded = argc > 3 && std::strcmp(argv[3], "--load") == 0;
    std::vector<std::string> kinds = {kind};
    if (kind == "both") {
        kinds = {"pulseaudio", "pipewire"};
    }
    auto busy = load(loaded);
    std::vector<std::string> ratios;
    for (const std::string& each : kinds) {
        ratios.push_back(benchServer(each, switches, loaded));
    }
    std::printf("\nhelper / minimal restorer, switch -> restored, quiet rounds:\n");
    for (const std::string& line : ratios) {
        std::printf("  %s\n", line.c_str());
    }
    return 0;
}
