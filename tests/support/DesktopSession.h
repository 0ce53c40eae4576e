#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sonvela::test {

// What a desktop session does with the XDG autostart folders at login, by the freedesktop
// Desktop Application Autostart spec: the folders are $XDG_CONFIG_HOME/autostart, then
// <dir>/autostart for each dir of $XDG_CONFIG_DIRS (/etc/xdg when unset); an entry hides every
// entry of the same file name in a later folder. Hidden=true, X-GNOME-Autostart-enabled=false,
// an OnlyShowIn without the desktop, a NotShowIn with it and a TryExec that names no program
// rule an entry out; the others have their Exec run.
class DesktopSession {
public:
    explicit DesktopSession(std::string desktop) : desktop_(std::move(desktop)) {}

    // The command lines the session would run, in file-name order.
    std::vector<std::vector<std::string>> autostartCommands() const;

    // Runs each command and waits until it has ended.
    void logIn() const;

    // What systemd-based sessions (GNOME, KDE Plasma and others) make of the autostart
    // folders: the units systemd's autostart generator writes into the folder, and of those
    // the ones that `systemd-analyze --user verify` passes, which systemd would start.
    struct SystemdUnits {
        std::vector<std::string> startable;
        std::string complaints; // what the generator and the checks said
    };
    static SystemdUnits systemdUnits(const std::string& folder);

    // Starts an entry as GLib-based sessions do (GDesktopAppInfo, through python3-gi), with no
    // session bus; false when GLib refuses the entry.
    static bool launchWithGLib(const std::string& entry);

private:
    std::string desktop_;
};

} // namespace sonvela::test
