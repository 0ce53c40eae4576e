#pragma once

#include <string>
#include <vector>

namespace sonvela::test {

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
    struct Saved {
        std::string name;
        bool wasSet;
        std::string value;
    };
    std::string path_;
    std::vector<Saved> saved_;
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
    std::string defaultTable() const { return path_ + "/Resources/DefaultConfig.plist"; }

private:
    std::string path_;
};

// Small file helpers for tests.
std::string readAll(const std::string& path);
void writeAll(const std::string& path, const std::string& bytes);
void makeDirs(const std::string& path);
std::vector<std::string> listDir(const std::string& path);

} // namespace sonvela::test
