// What the settings program's questions about the helper cost: a lookup by name runs the
// bundle's script over /proc, a login-item lookup reads the preferences file once per entry.
#include "platform/bundle/Bundle.h"
#include "platform/prefs/Preferences.h"
#include "shared/AppUtil.h"
#include "shared/LoginItemAPI.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Setup {
    Setup() {
        std::string pattern = fs::temp_directory_path().string() + "/sonvela-bench-XXXXXX";
        root = mkdtemp(pattern.data());
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        platform::prefs::overrideAnyUserFolderForTesting(root + "/etc-xdg");
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    }
    ~Setup() { fs::remove_all(root); }
    std::string root;
};

Setup& setup() {
    static Setup instance;
    return instance;
}

void BM_ApplicationIsRunning(benchmark::State& state) {
    setup();
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppUtil::applicationIsRunning("Sonvela Helper"));
    }
}
BENCHMARK(BM_ApplicationIsRunning)->Unit(benchmark::kMillisecond)->UseRealTime();

// The helper's entry last in a list of the given length: the worst case of a lookup.
void BM_LoginItemLookup(benchmark::State& state) {
    setup();
    fs::remove_all(setup().root + "/config");
    auto user = platform::prefs::kCFPreferencesCurrentUser;
    for (int i = 1; i < state.range(0); ++i) {
        std::string path = "/Applications/Other " + std::to_string(i) + ".app";
        AddLoginItemWithPropertiesToUser(user, path.c_str(), 0);
    }
    AddLoginItemWithPropertiesToUser(user, "/Applications/Sonvela Helper.app", 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppUtil::getLoginItemIndexByApplicationName("Sonvela Helper.app"));
    }
}
BENCHMARK(BM_LoginItemLookup)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
