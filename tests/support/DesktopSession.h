#pragma once

#include <string>
#include <vector>

namespace sonvela::test {

// What a desktop session does at login with the autostart folders: $XDG_CONFIG_HOME/autostart,
// then <dir>/autostart for each dir of $XDG_CONFIG_DIRS. An entry hides the entries of the same
// file name in later folders; GLib reads each, and one whose program is not there is left out.
struct DesktopSession {
    // The command lines the session would run, in file-name order.
    static std::vector<std::vector<std::string>> autostartCommands();

    // What systemd-based sessions (GNOME, KDE Plasma and others) make of the autostart folders:
    // how many of the units its generator makes of them (in $HOME) pass `systemd-analyze verify`.
    static int systemdUnitsThatPass();

    // Starts an entry as GLib-based sessions do (through python3-gi); false when GLib refuses it.
    static bool launchWithGLib(const std::string& entry);
};

} // namespace sonvela::test
