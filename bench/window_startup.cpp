// Time from launching the settings program to its window shown and filled, and what it then
// holds in memory. Each run is a fresh process on Qt's offscreen platform against a private
// PulseAudio server, so loading Qt and connecting to the server are part of the figure.
#include "app/SettingsApplication.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace std::chrono;

namespace {

long long nowNs() {
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

long vmHwmKiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// The measured program: what the settings program's main does, then one report line.
int child(int argc, char** argv, long long launchedNs) {
    QApplication app(argc, argv);
    SettingsApplication settings;
    settings.start();
    while (!settings.window().isVisible() ||
           settings.delegate().configModel()->deviceType().isEmpty()) {
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    std::printf("filled %.3f ms, %ld KiB\n", double(nowNs() - launchedNs) / 1e6, vmHwmKiB());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--child") {
        return child(argc, argv, std::stoll(argv[2]));
    }
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    sonvela::test::TempHome home;
    sonvela::test::PulseServer server(home.path() + "/server",
                                      {{"phones", "headphone", "Headphones"}});
    server.start();
    const char* path = std::getenv("PATH");
    // Our own file: children are started through a wrapper, for which /proc/self is itself.
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<double> times;
    std::vector<long> rss;
    for (int i = 0; i < runs; ++i) {
        std::string out = home.path() + "/run" + std::to_string(i);
        {
            sonvela::test::ChildProcess run(
                {self, "--child", std::to_string(nowNs())},
                {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.configHome(),
                 "XDG_RUNTIME_DIR=" + home.path() + "/run", "PULSE_SERVER=" + server.address(),
                 "QT_QPA_PLATFORM=offscreen", std::string("PATH=") + (path ? path : "/usr/bin")},
                out);
            run.waitForExit(seconds(30));
        }
        double ms = 0;
        long kib = 0;
        std::ifstream result(out);
        for (std::string line; std::getline(result, line);) {
            if (std::sscanf(line.c_str(), "filled %lf ms, %ld KiB", &ms, &kib) == 2) {
                times.push_back(ms);
                rss.push_back(kib);
            }
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(rss.begin(), rss.end());
    if (times.empty()) {
        std::printf("the settings program never reported its window\n");
        return 1;
    }
    std::printf(
        "settings window, %zu launches: shown and filled after %.1f ms median, %.1f ms max\n",
        times.size(), times[times.size() / 2], times.back());
    std::printf("settings program RSS high-water: %.1f MiB median, %.1f MiB max\n",
                double(rss[rss.size() / 2]) / 1024.0, double(rss.back()) / 1024.0);
    return 0;
}
