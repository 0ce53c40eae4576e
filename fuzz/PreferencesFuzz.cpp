// A preferences file another tool wrote: reading it and saving a change beside it never
// crashes, and a save leaves either the file as it was or one that reads with the change.
#include "platform/names/ProductNames.h"
#include "platform/plist/PlistFile.h"
#include "platform/prefs/Preferences.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace prefs = platform::prefs;
constexpr const char* kApplication = "fuzzed";

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static std::string home = std::filesystem::temp_directory_path() /
                              ("preferences-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    std::atexit([] { std::filesystem::remove_all(home); });
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    platform::ProductNames names;
    names.preferencesFolder = "fuzzed-preferences";
    platform::setProductNames(names);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = *prefs::preferencesFile(kApplication, prefs::kCFPreferencesCurrentUser);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary) << bytes;

    const auto user = prefs::kCFPreferencesCurrentUser;
    const auto host = prefs::kCFPreferencesAnyHost;
    prefs::copyValue("list", kApplication, user, host);
    bool saved = prefs::updateValue("list", kApplication, user, host,
                                    [](std::optional<platform::plist::Value>& stored) {
                                        stored = platform::plist::Value("added");
                                        return true;
                                    });
    if (!saved && readAll(path) != bytes) {
        std::abort();
    }
    auto after = platform::plist::readDictionary(path);
    if (saved && (!after || after->at("list") != platform::plist::Value("added"))) {
        std::abort();
    }
    return 0;
}
