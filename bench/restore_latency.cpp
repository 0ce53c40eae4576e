// How fast the right volume follows an output switch: a private PulseAudio server with two
// sinks of different kinds, Sonvela Helper running against it, and N switches of the default
// sink. Each is timed from the switch to the sink seen muted and to the stored volume seen
// applied and unmuted, by a client of its own. The same for the shell script people use today.
#include "bench/SinkObserver.h"
#include "platform/plist/PlistFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/PulseClient.h"
#include "tests/support/PulseServer.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <cstdio>
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
    std::vector<double> muted, restored; // milliseconds
    int missed = 0;
};

Latencies measure(int switches, PulseClient& control, SinkObserver& observer,
                  const std::function<void()>& settle) {
    Latencies result;
    for (int i = 0; i < switches; ++i) {
        const Target& target = kTargets[(i + 1) % 2];
        observer.arm(target.sink, target.volume);
        auto start = Clock::now();
        control.setDefaultSink(target.sink);
        SinkObserver::Seen seen = observer.wait(seconds(3));
        if (!seen.muted || !seen.restored) {
            std::fprintf(stderr, "switch %d to %s: %s\n", i, target.sink,
                         seen.muted ? "muted, never restored" : "never muted");
            ++result.missed;
            continue;
        }
        result.muted.push_back(duration<double, std::milli>(*seen.muted - start).count());
        result.restored.push_back(duration<double, std::milli>(*seen.restored - start).count());
        settle();
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

void print(const char* who, const Latencies& l) {
    for (const auto& [what, values] : {std::pair{"muted", &l.muted}, {"restored", &l.restored}}) {
        std::printf("%-8s switch -> %-8s p50 %7.3f ms  p95 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n",
                    who, what, percentile(*values, 50), percentile(*values, 95),
                    percentile(*values, 99), percentile(*values, 100));
    }
    if (l.missed > 0) {
        std::printf("%-8s %d switches not seen restored within 3 s\n", who, l.missed);
    }
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

} // namespace

int main(int argc, char** argv) {
    int switches = argc > 1 ? std::max(2, std::atoi(argv[1])) : 500;
    TempHome home;
    PulseServer server(home.path() + "/server",
                       {{"phones", "headphone", "Headphones"}, {"tv", "tv", "Television"}});
    server.start();
    makeDirs(home.configHome() + "/Sonvela");
    platform::plist::writeXmlAtomically(
        home.configPlist(), platform::plist::Dictionary{{"hdpn", platform::plist::Value(0.75f)},
                                                        {"hdmi", platform::plist::Value(0.40f)}});
    PulseClient control(server.address());
    SinkObserver observer(server.address());

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
    Latencies ours = measure(switches, control, observer, [] {});
    std::this_thread::sleep_for(milliseconds(300));
    double cpu = cpuSeconds(pid) - cpuBefore;
    std::size_t restores = helper.restores().size() - restoresBefore;
    long hwm = procField(pid, "status", "VmHWM:");
    helper.process().stop();

    std::printf("restore latency, %d default-sink switches on a private PulseAudio server\n",
                switches);
    print("helper", ours);
    std::printf("helper   restores %zu for %d switches\n", restores, switches);
    std::printf("helper   CPU %.3f ms per restore\n",
                cpu * 1000.0 / double(std::max<std::size_t>(restores, 1)));
    std::printf("helper   RSS high-water %ld KiB idle, %ld KiB after the run\n", idleHwm, hwm);
    std::printf("helper   %.1f wake-ups per second while idle\n", idleWakeUps);
    std::fflush(stdout);

    const char* path = std::getenv("PATH");
    ChildProcess script(
        {"setsid", "sh", SONVELA_SOURCE_DIR "/bench/volume_by_hand.sh", "phones=75", "tv=40"},
        {"PULSE_SERVER=" + server.address(), "HOME=" + home.path(),
         std::string("PATH=") + (path ? path : "/usr/bin:/bin")},
        home.path() + "/script.log");
    std::this_thread::sleep_for(milliseconds(500));
    Latencies theirs =
        measure(switches, control, observer, [] { std::this_thread::sleep_for(milliseconds(5)); });
    ::kill(-script.pid(), SIGTERM);
    print("script", theirs);
    double ratio = percentile(theirs.restored, 50) / std::max(percentile(ours.restored, 50), 1e-9);
    std::printf("helper is %.0fx faster than the script at p50 (switch -> restored)\n", ratio);
    return 0;
}
