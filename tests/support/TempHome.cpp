#include "tests/support/TempHome.h"

#include "platform/bundle/Bundle.h"
#include "shared/SonvelaNames.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sonvela::test {

namespace {
// The tests are Sonvela's programs too: the same names before main() runs.
[[maybe_unused]] const bool named = (useSonvelaNames(), true);
} // namespace

void ScopedVariables::set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    value ? setenv(name, value, 1) : unsetenv(name);
}

ScopedVariables::~ScopedVariables() {
    // Backwards, so that a variable set twice gets its first value back.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        it->second ? setenv(it->first.c_str(), it->second->c_str(), 1)
                   : unsetenv(it->first.c_str());
    }
}

TempHome::TempHome() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/sonvela-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
    std::filesystem::create_directories(configHome());
    std::filesystem::create_directories(path_ + "/run");
    std::filesystem::permissions(path_ + "/run", std::filesystem::perms::owner_all);
    variables_.set("HOME", path_.c_str());
    variables_.set("XDG_CONFIG_HOME", configHome().c_str());
    variables_.set("XDG_DATA_HOME", (path_ + "/.local/share").c_str());
    variables_.set("XDG_RUNTIME_DIR", (path_ + "/run").c_str());
    variables_.set("PULSE_SERVER", ("unix:" + path_ + "/run/no-server").c_str());
    variables_.set("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + sessionBus()).c_str());
}

TempHome::~TempHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

MainBundle::MainBundle(std::string path) : path_(std::move(path)) {
    std::filesystem::create_directories(path_ + "/Resources");
    std::filesystem::copy_file(SONVELA_SOURCE_DIR "/resources/DefaultConfig.plist",
                               path_ + "/Resources/DefaultConfig.plist");
    platform::bundle::Bundle::overrideMainForTesting(path_);
}

MainBundle::~MainBundle() {
    platform::bundle::Bundle::overrideMainForTesting(std::nullopt);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void makeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

} // namespace sonvela::test
