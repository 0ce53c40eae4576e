// A strings table in a bundle: any bytes give an entry or the key, never a crash.
#include "platform/bundle/Bundle.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string& bundleFolder() {
    static std::string folder = std::filesystem::temp_directory_path() /
                                ("strings-fuzz-" + std::to_string(getpid()) + ".app");
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::filesystem::create_directories(bundleFolder() + "/Resources");
    std::atexit([] { std::filesystem::remove_all(bundleFolder()); });
    platform::bundle::Bundle::overrideMainForTesting(bundleFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream(bundleFolder() + "/Resources/Fuzzed.strings", std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const auto& bundle = platform::bundle::Bundle::main();
    bundle.localizedString("hdpn", "", "Fuzzed");
    bundle.localizedString("Sonvela", "fallback", "Fuzzed");
    return 0;
}
