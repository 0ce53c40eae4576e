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

    // An Exec value, as written in the file, taken apart into its arguments; nullopt when its
    // quoting is broken.
    static std::optional<std::vector<std::string>> parseExec(const std::string& value);

private:
    std::string desktop_;
};

} // namespace sonvela::test
