#include "platform/loginwindow/AutostartEntry.h"

#include "platform/bundle/Bundle.h"
#include "platform/fs/FileManager.h"
#include "platform/fs/FolderLock.h"
#include "platform/log/Log.h"
#include "platform/loginwindow/LoginItems.h"
#include "platform/names/ProductNames.h"
#include "platform/paths/SearchPath.h"
#include "platform/plist/PlistInputCheck.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
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

// A program path that every session we know runs from an Exec line. However it is quoted,
// systemd's autostart generator (252) refuses quotes and backslashes in it, and "$" and "`"
// (the unit it writes keeps escapes for them that systemd then refuses); it and GLib both
// refuse "%" (GLib looks for the program before it undoes "%%").
bool isSafeProgramPath(const std::string& path) {
    return fitsOnOneLine(path) && path.find_first_of("\"'\\%$`") == std::string::npos;
}

mode_t folderMode(prefs::ScopeRef user) {
    // Only the user may put entries into their own autostart folder: an entry runs at login.
    return user == prefs::kCFPreferencesCurrentUser ? 0700 : 0755;
}

// Where a link of ours names the login window by a path the sessions accept, for a login
// window whose own path they refuse. The current user's only: an any-user entry would need it
// in a folder every user can read.
std::optional<std::string> linkPath(prefs::ScopeRef user) {
    std::optional<std::string> data = paths::dataHome();
    const ProductNames& names = productNames();
    if (user != prefs::kCFPreferencesCurrentUser || !data || names.dataFolder.empty()) {
        return std::nullopt;
    }
    return *data + "/" + names.dataFolder + "/" + names.loginWindowProgram;
}

void removeLink(const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        ::unlink(link.c_str());
        ::rmdir(fs::parentOf(link).c_str());
    }
}

bool pointLinkAt(const std::string& link, const std::string& target) {
    std::error_code error;
    if (std::filesystem::read_symlink(link, error) == target) {
        return true;
    }
    // Whoever changes the link holds the autostart folder's lock, so one temporary name will do.
    std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (!fs::createDirectories(fs::parentOf(link), 0700) ||
        ::symlink(target.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool removeEntry(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return true;
    }
    log::nslog("cannot remove the autostart entry %s: %s", path.c_str(), std::strerror(errno));
    return false;
}

// The path the entry names: the login window's own, or the link when the sessions would refuse
// that. Where no link can be made the entry names the login window all the same: a session
// of another kind may still run it.
std::string programToName(const std::string& executable, const std::optional<std::string>& link) {
    if (isSafeProgramPath(executable)) {
        return executable;
    }
    if (link && isSafeProgramPath(*link) && pointLinkAt(*link, executable)) {
        return *link;
    }
    log::nslog("login items may not start at login: desktop sessions refuse the path %s, and no "
               "link to it could be made",
               executable.c_str());
    return executable;
}

bool writeEntry(const std::string& path, const std::optional<std::string>& link) {
    std::string executable = loginWindowExecutable();
    if (::access(executable.c_str(), X_OK) != 0) {
        log::nslog("login items will not start at login: no login window at %s",
                   executable.c_str());
        return false;
    }
    std::string program = programToName(executable, link);
    std::optional<std::string> text = autostartEntryText(program);
    if (!text) {
        log::nslog("login items will not start at login: a desktop entry cannot name %s",
                   program.c_str());
        return false;
    }
    if (!fs::writeFileAtomically(path, *text)) {
        log::nslog("cannot write the autostart entry %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    // Only once the entry names something else: the link may still be what it runs until then.
    if (link && program != *link) {
        removeLink(*link);
    }
    return true;
}

} // namespace

std::optional<std::string> autostartEntryPath(prefs::ScopeRef user) {
    std::optional<std::string> folder = prefs::configFolder(user);
    const std::string& program = productNames().loginWindowProgram;
    if (!folder || program.empty()) {
        return std::nullopt;
    }
    return paths::appendPathComponent(paths::appendPathComponent(*folder, "autostart"),
                                      program + ".desktop");
}

std::string loginWindowExecutable() {
    return paths::appendPathComponent(
        paths::appendPathComponent(bundle::Bundle::main().bundlePath(), "bin"),
        productNames().loginWindowProgram);
}

std::optional<std::string> autostartEntryText(const std::string& executable) {
    if (!fitsOnOneLine(executable)) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           escapedValue(productNames().loginWindowTitle) + "\n" +
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
    std::string folder = fs::parentOf(*path);
    if (!fs::createDirectories(folder, folderMode(user))) {
        log::nslog("cannot create the autostart folder %s: %s", folder.c_str(),
                   std::strerror(errno));
        return false;
    }
    // Programs that change the list at once bring the entry in step one after the other, each
    // after its change was saved, so the last of them sees the last list.
    fs::FolderLock lock(folder);
    std::optional<std::string> link = linkPath(user);
    if (readLoginItems(user).empty()) {
        if (link) {
            removeLink(*link);
        }
        return removeEntry(*path);
    }
    return writeEntry(*path, link);
}

} // namespace platform::loginwindow
