// What one restore costs inside the helper, without a sound server: the table read, the mute
// and the volume write on the simulated backend, which runs calls and listeners on its own
// thread as the real one does. A floor for the end-to-end latency.
#include "helper/Sonvela_HelperAppDelegate.h"
#include "platform/audio/SimulatedBackend.h"
#include "platform/bundle/Bundle.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform::audio;

namespace {

struct Setup {
    Setup() {
        std::string pattern = fs::temp_directory_path().string() + "/sonvela-bench-XXXXXX";
        root = mkdtemp(pattern.data());
        fs::create_directories(root + "/Sonvela Helper.app/Resources");
        fs::copy_file(SONVELA_SOURCE_DIR "/resources/DefaultConfig.plist",
                      root + "/Sonvela Helper.app/Resources/DefaultConfig.plist");
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        fs::create_directories(root + "/config");
        platform::bundle::Bundle::overrideMainForTesting(root + "/Sonvela Helper.app");
        backend = makeBackend<SimulatedBackend>();
        backend->setDefaultDevice(backend->addDevice(fourCharCode("hdpn"), 0.2f));
        useBackend(backend);
    }
    ~Setup() { fs::remove_all(root); }
    std::string root;
    std::shared_ptr<SimulatedBackend> backend;
};

// The restores' log lines go nowhere while it lives.
struct QuietStderr {
    QuietStderr() { dup2(devnull, STDERR_FILENO); }
    ~QuietStderr() {
        dup2(saved, STDERR_FILENO);
        close(devnull);
        close(saved);
    }
    int saved = dup(STDERR_FILENO);
    int devnull = open("/dev/null", O_WRONLY);
};

void BM_Restore(benchmark::State& state) {
    static Setup setup;
    Sonvela_HelperAppDelegate delegate;
    QuietStderr quiet;
    for (auto _ : state) {
        delegate.checkAudioDeviceDataSource();
        setup.backend->clearWrites();
    }
}
BENCHMARK(BM_Restore)->Unit(benchmark::kMicrosecond);

// As in the helper: the restore runs on the backend's thread, as the listener of a notification,
// and its calls need no hand-over. BM_Restore's calls come from another thread, as at start-up.
void BM_NotifiedRestore(benchmark::State& state) {
    static Setup setup;
    Sonvela_HelperAppDelegate delegate;
    QuietStderr quiet;
    delegate.registerListenerForAudioDevice();
    for (auto _ : state) {
        setup.backend->notify();
        setup.backend->waitUntilIdle();
        setup.backend->clearWrites();
    }
    delegate.unregisterListenerForAudioDevice();
}
BENCHMARK(BM_NotifiedRestore)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
