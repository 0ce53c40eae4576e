#include "tests/support/DesktopSession.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sonvela::test {

namespace {

namespace fs = std::filesystem;
using Entry = std::map<std::string, std::string>;

std::string trimmed(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t");
    std::size_t end = text.find_last_not_of(" \t");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

// The general escapes of a desktop entry value: \s \n \t \r \\.
std::string unescaped(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        char c = value[++i];
        const std::map<char, char> escapes{{'s', ' '}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}};
        auto found = escapes.find(c);
        text += found != escapes.end() ? std::string(1, found->second)
                : c == '\\'            ? "\\"
                                       : "\\" + std::string(1, c);
    }
    return text;
}

Entry readEntry(const fs::path& file) {
    Entry entry;
    std::ifstream in(file);
    bool inMainGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        std::size_t equals = line.find('=');
        std::string key = trimmed(line.substr(0, equals));
        if (inMainGroup && equals != std::string::npos && key.find('[') == std::string::npos) {
            entry.emplace(key, trimmed(line.substr(equals + 1)));
        }
    }
    return entry;
}

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, separator);) {
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

bool programExists(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0;
    }
    const char* path = std::getenv("PATH");
    for (const std::string& dir : splitList(path ? path : "/usr/bin:/bin", ':')) {
        if (access((dir + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

bool isStarted(const Entry& entry, const std::string& desktop) {
    auto value = [&entry](const std::string& key) {
        auto found = entry.find(key);
        return found == entry.end() ? std::string() : unescaped(found->second);
    };
    if (value("Hidden") == "true" || value("X-GNOME-Autostart-enabled") == "false" ||
        value("Exec").empty()) {
        return false;
    }
    std::vector<std::string> only = splitList(value("OnlyShowIn"), ';');
    std::vector<std::string> not_ = splitList(value("NotShowIn"), ';');
    bool listed = false;
    bool excluded = false;
    for (const std::string& name : splitList(desktop, ':')) {
        listed = listed || std::find(only.begin(), only.end(), name) != only.end();
        excluded = excluded || std::find(not_.begin(), not_.end(), name) != not_.end();
    }
    return (only.empty() || listed) && !excluded &&
           (value("TryExec").empty() || programExists(value("TryExec")));
}

std::vector<fs::path> autostartFolders() {
    std::vector<fs::path> folders;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    folders.push_back(configHome && configHome[0] == '/'
                          ? fs::path(configHome) / "autostart"
                          : fs::path(home ? home : "") / ".config/autostart");
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    for (const std::string& dir : splitList(dirs && *dirs ? dirs : "/etc/xdg", ':')) {
        folders.push_back(fs::path(dir) / "autostart");
    }
    return folders;
}

// An Exec value, as written in the file, taken apart into its arguments; nullopt when its
// quoting is broken.
std::optional<std::vector<std::string>> parseExec(const std::string& value) {
    std::string text = unescaped(value);
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            inArgument = true;
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size() &&
                    std::string("\"`$\\").find(text[i + 1]) != std::string::npos) {
                    ++i;
                }
                current += text[i];
            }
            if (i == text.size()) {
                return std::nullopt;
            }
        } else if (c == ' ') {
            if (inArgument) {
                arguments.push_back(current);
            }
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        arguments.push_back(current);
    }
    std::vector<std::string> result;
    for (std::string argument : arguments) {
        if (argument.size() == 2 && argument[0] == '%' && argument[1] != '%') {
            continue;
        }
        for (std::size_t at = argument.find("%%"); at != std::string::npos;
             at = argument.find("%%", at + 1)) {
            argument.erase(at, 1);
        }
        result.push_back(argument);
    }
    return result;
}

struct Run {
    int status = -1;
    std::string output;
};

// Runs a program to its end with its output and errors kept, in the test's environment with
// the changes given.
Run run(const std::vector<std::string>& command, const std::vector<std::string>& changes = {}) {
    std::vector<std::string> environment = changes;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        std::string entry = *variable;
        std::string name = entry.substr(0, entry.find('=') + 1);
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const std::string& c) { return c.rfind(name, 0) == 0; })) {
            environment.push_back(entry);
        }
    }
    std::vector<char*> argv;
    for (const std::string& argument : command) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    char outputPath[] = "/tmp/sonvela-run-XXXXXX";
    int output = mkostemp(outputPath, O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    Run result;
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        waitpid(pid, &result.status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(output);
    std::ifstream in(outputPath);
    result.output.assign(std::istreambuf_iterator<char>(in), {});
    unlink(outputPath);
    return result;
}

} // namespace

std::vector<std::vector<std::string>> DesktopSession::autostartCommands() const {
    std::set<std::string> seen;
    std::map<std::string, std::vector<std::string>> commands;
    for (const fs::path& folder : autostartFolders()) {
        std::error_code ec;
        for (const auto& file : fs::directory_iterator(folder, ec)) {
            std::string name = file.path().filename().string();
            if (file.path().extension() != ".desktop" || !seen.insert(name).second) {
                continue;
            }
            Entry entry = readEntry(file.path());
            auto command = parseExec(entry["Exec"]);
            if (isStarted(entry, desktop_) && command && !command->empty()) {
                commands[name] = *command;
            }
        }
    }
    std::vector<std::vector<std::string>> ordered;
    for (auto& [name, command] : commands) {
        ordered.push_back(command);
    }
    return ordered;
}

void DesktopSession::logIn() const {
    for (const std::vector<std::string>& command : autostartCommands()) {
        std::vector<char*> argv;
        for (const std::string& argument : command) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
            waitpid(pid, nullptr, 0);
        }
    }
}

DesktopSession::SystemdUnits DesktopSession::systemdUnits(const std::string& folder) {
    SystemdUnits units;
    units.complaints = run({"/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator",
                            folder, folder, folder},
                           {"SYSTEMD_LOG_LEVEL=info"})
                           .output;
    std::error_code ec;
    for (const auto& file : fs::directory_iterator(folder, ec)) {
        if (file.path().extension() != ".service") {
            continue;
        }
        Run verify =
            run({"/usr/bin/systemd-analyze", "--user", "--man=no", "verify", file.path().string()});
        units.complaints += verify.output;
        if (verify.status == 0) {
            units.startable.push_back(file.path().filename().string());
        }
    }
    return units;
}

bool DesktopSession::launchWithGLib(const std::string& entry) {
    const char* script = "import sys, gi\n"
                         "gi.require_version('Gio', '2.0')\n"
                         "from gi.repository import Gio\n"
                         "app = Gio.DesktopAppInfo.new_from_filename(sys.argv[1])\n"
                         "sys.exit(0 if app is not None and app.launch([], None) else 1)\n";
    const char* home = std::getenv("HOME");
    std::string noBus =
        std::string("DBUS_SESSION_BUS_ADDRESS=unix:path=") + (home ? home : "") + "/no-session-bus";
    return run({SONVELA_PYTHON3, "-c", script, entry}, {noBus}).status == 0;
}

} // namespace sonvela::test
