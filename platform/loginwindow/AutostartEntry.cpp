#include "platform/loginwindow/AutostartEntry.h"

#include "platform/bundle/Bundle.h"
#include "platform/fs/FileManager.h"
#include "platform/log/Log.h"
#include "platform/loginwindow/LoginItems.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistInputCheck.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace platform::loginwindow {

namespace {

// An argument of the Exec key: quoted, with the four characters that are special inside quotes
// escaped, and "%" doubled so that it is not taken for a field code.
std::string quotedArgument(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return quoted + "\"";
}

// Every value of a desktop entry is read with these escapes undone first.
std::string escapedValue(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return escaped;
}

bool fitsOnOneLine(const std::string& text) {
    return plist::detail::isXmlText(text) && text.find_first_of("\t\n\r") == std::string::npos;
}

bool removeEntry(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return true;
    }
    log::nslog("cannot remove the autostart entry %s: %s", path.c_str(), std::strerror(errno));
    return false;
}

bool writeEntry(const std::string& path) {
    std::string executable = loginWindowExecutable();
    if (::access(executable.c_str(), X_OK) != 0) {
        log::nslog("login items will not start at login: no login window at %s",
                   executable.c_str());
        return false;
    }
    std::optional<std::string> text = autostartEntryText(executable);
    if (!text) {
        log::nslog("login items will not start at login: a desktop entry cannot name %s",
                   executable.c_str());
        return false;
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    if (!fs::writeFileAtomically(path, *text)) {
        log::nslog("cannot write the autostart entry %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

std::optional<std::string> autostartEntryPath(prefs::ScopeRef user) {
    std::optional<std::string> folder = prefs::configFolder(user);
    if (!folder) {
        return std::nullopt;
    }
    return paths::appendPathComponent(paths::appendPathComponent(*folder, "autostart"),
                                      kAutostartFileName);
}

std::string loginWindowExecutable() {
    return paths::appendPathComponent(
        paths::appendPathComponent(bundle::Bundle::main().bundlePath(), "bin"),
        kLoginWindowProgram);
}

std::optional<std::string> autostartEntryText(const std::string& executable) {
    if (!fitsOnOneLine(executable)) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Sonvela login items\n"
           "Comment=Starts the applications of your login item list\n"
           "Exec=" +
           escapedValue(quotedArgument(executable)) + "\n" + "TryExec=" + escapedValue(executable) +
           "\n" +
           "NoDisplay=true\n"
           "Terminal=false\n";
}

bool keepAutostartEntryInStep(prefs::ScopeRef user) {
    std::optional<std::string> path = autostartEntryPath(user);
    if (!path) {
        return false;
    }
    if (readLoginItems(user).empty()) {
        return removeEntry(*path);
    }
    return writeEntry(*path);
}

} // namespace platform::loginwindow
