#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sonvela::test {

// Environment variables set (or, set to nullptr, unset) while the object lives; then each is
// put back as it was.
class ScopedVariables {
public:
    ScopedVariables() = default;
    ~ScopedVariables();
    ScopedVariables(const ScopedVariables&) = delete;
    ScopedVariables& operator=(const ScopedVariables&) = delete;

    void set(const char* name, const char* value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// LANGUAGE, LC_ALL, LC_MESSAGES and LANG set (nullptr unsets one) while the object lives.
struct UserLanguage : ScopedVariables {
    UserLanguage(const char* language, const char* all, const char* messages, const char* lang) {
        set("LANGUAGE", language);
        set("LC_ALL", all);
        set("LC_MESSAGES", messages);
        set("LANG", lang);
    }
    // The usual test case: a LANGUAGE list under a locale that lets it count.
    explicit UserLanguage(const char* language)
        : UserLanguage(language, nullptr, nullptr, "C.UTF-8") {}
};

// A fresh temporary folder that stands in for the user's home for one test: HOME,
// XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR, PULSE_SERVER and DBUS_SESSION_BUS_ADDRESS
// point into it while the object lives, so no test ever touches the real user's files, sound
// server or session bus.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& path() const { return path_; }
    std::string configHome() const { return path_ + "/.config"; }
    std::string configPlist() const { return configHome() + "/Sonvela/config.plist"; }
    // Where DBUS_SESSION_BUS_ADDRESS points, also the default socket in XDG_RUNTIME_DIR; nothing
    // listens there until a test starts a bus.
    std::string sessionBus() const { return path_ + "/run/bus"; }

private:
    std::string path_;
    ScopedVariables variables_;
};

// A bundle folder of the test's own that stands in for the running program's bundle while the
// object lives; its resources hold the default table the programs ship.
class MainBundle {
public:
    explicit MainBundle(std::string path);
    ~MainBundle();
    MainBundle(const MainBundle&) = delete;
    MainBundle& operator=(const MainBundle&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Small file helpers for tests.
std::string readAll(const std::string& path);
void writeAll(const std::string& path, const std::string& bytes);
void makeDirs(const std::string& path);
std::vector<std::string> listDir(const std::string& path);

} // namespace sonvela::test
