#include "tests/support/ChildProcess.h"

#include "tests/support/Eventually.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sonvela::test {

namespace {

std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& s : strings) {
        pointers.push_back(const_cast<char*>(s.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

bool answers(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           const std::string& outputPath) {
    // A test process that dies takes its servers and helpers with it, rather than leave them
    // running for good.
    std::vector<std::string> command = {"setpriv", "--pdeathsig", "TERM", "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    auto args = pointersTo(command);
    auto env = pointersTo(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The test runner's blocked or ignored signals must not reach the child.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int error = posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("posix_spawnp(" + argv[0] + ") failed: " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::reap(int options) {
    int status = 0;
    pid_t result = 0;
    if (!exitCode_) {
        do {
            result = waitpid(pid_, &status, options);
        } while (result < 0 && errno == EINTR);
    }
    if (result != 0) {
        exitCode_ = result < 0          ? -1
                    : WIFEXITED(status) ? WEXITSTATUS(status)
                                        : 128 + WTERMSIG(status);
    }
    return exitCode_.has_value();
}

bool ChildProcess::running() {
    return !reap(WNOHANG);
}

void ChildProcess::signal(int number) {
    if (running()) {
        ::kill(pid_, number);
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds deadline) {
    return eventually([this] { return reap(WNOHANG); }, deadline) ? exitCode_ : std::nullopt;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    signal(SIGTERM);
    if (auto code = waitForExit(grace)) {
        return *code;
    }
    kill();
    return *exitCode_;
}

void ChildProcess::kill() {
    signal(SIGKILL);
    reap(0);
}

bool ChildProcess::waitForSocket(const std::string& path, std::chrono::milliseconds deadline) {
    bool answered = false;
    eventually([&] { return (answered = answers(path)) || !running(); }, deadline);
    return answered;
}

} // namespace sonvela::test
