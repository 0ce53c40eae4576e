#include "tests/support/DesktopSession.h"

#include "platform/process/ProgramRunner.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace sonvela::test {

namespace {

// For the shell: the test's temporary folders hold no single quote.
std::string shellQuoted(const std::string& text) {
    return "'" + text + "'";
}

// The Python code with GLib's Gio at hand.
std::string withGio(const std::string& code) {
    return "import os, sys, gi\ngi.require_version(\"Gio\", \"2.0\")\n"
           "from gi.repository import Gio, GLib\n" +
           code;
}

} // namespace

// GLib reads each entry, refusing one whose TryExec or Exec names no program, and takes its Exec
// line apart. Each argument is written out with a NUL after it, each command with one more.
std::vector<std::vector<std::string>> DesktopSession::autostartCommands() {
    const char* code = R"(
dirs = [os.environ["XDG_CONFIG_HOME"]] + (os.environ.get("XDG_CONFIG_DIRS") or "/etc/xdg").split(":")
commands = {}
for folder in [dir + "/autostart" for dir in dirs]:
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        if name.endswith(".desktop") and name not in commands:
            try: commands[name] = GLib.shell_parse_argv(
                Gio.DesktopAppInfo.new_from_filename(folder + "/" + name).get_commandline())[1]
            except Exception: commands[name] = []
for name in sorted(commands):
    words = [w.replace("%%", "%") for w in commands[name] if len(w) != 2 or w[0] != "%"]
    sys.stdout.write("".join(w + "\0" for w in words) + ("\0" if words else ""))
)";
    std::vector<std::vector<std::string>> commands{{}};
    std::istringstream words(
        platform::process::runProgram(SONVELA_PYTHON3, {"-c", withGio(code)}).value_or(""));
    for (std::string word; std::getline(words, word, '\0');) {
        if (word.empty()) {
            commands.emplace_back();
        } else {
            commands.back().push_back(word);
        }
    }
    commands.pop_back();
    return commands;
}

int DesktopSession::systemdUnitsThatPass() {
    std::string folder = std::string(std::getenv("HOME")) + "/systemd-units";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::system(("umask 077; SYSTEMD_LOG_LEVEL=info "
                 "/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator " +
                 shellQuoted(folder) + " " + shellQuoted(folder) + " " + shellQuoted(folder))
                    .c_str());
    int passed = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        passed +=
            file.path().extension() == ".service" &&
            std::system(
                ("systemd-analyze --user --man=no verify " + shellQuoted(file.path())).c_str()) ==
                0;
    }
    return passed;
}

// What GLib starts keeps running: its output must not hold up the test.
bool DesktopSession::launchWithGLib(const std::string& entry) {
    const char* code = R"(
sys.exit(0 if Gio.DesktopAppInfo.new_from_filename(sys.argv[1]).launch([], None) else 1)
)";
    std::string command =
        SONVELA_PYTHON3 " -c " + shellQuoted(withGio(code)) + " " + shellQuoted(entry);
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace sonvela::test
