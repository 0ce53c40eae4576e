#include "platform/process/ProgramRunner.h"

#include "platform/fs/FileDescriptor.h"
#include "platform/process/SpawnOptions.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::process {

namespace {

struct Pipe {
    fs::FileDescriptor read;
    fs::FileDescriptor write;

    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        read = fs::FileDescriptor(fds[0]);
        write = fs::FileDescriptor(fds[1]);
        return true;
    }
};

void reap(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

enum class ReadResult { More, End, Failed };

// One read of what is there; with a non-blocking descriptor "nothing now" counts as the end.
ReadResult readSome(int fd, std::string& output) {
    char buffer[16 * 1024];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
        return output.size() > kMaxProgramOutput ? ReadResult::Failed : ReadResult::More;
    }
    if (n == 0 || errno == EAGAIN) {
        return ReadResult::End;
    }
    return errno == EINTR ? ReadResult::More : ReadResult::Failed;
}

// Reads until end of file or until the program has ended, whichever comes first; in the second
// case what is still in the pipe is taken without waiting for more.
bool collectOutput(pid_t pid, int fd, std::string& output) {
    fs::FileDescriptor exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    while (true) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {exited.get(), POLLIN, 0}};
        int ready = ::poll(watched, exited.get() >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0 && watched[0].revents != 0) {
            ReadResult result = readSome(fd, output);
            if (result != ReadResult::More) {
                return result == ReadResult::End;
            }
        } else if (ready > 0 && watched[1].revents != 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ReadResult result = ReadResult::More;
            while (result == ReadResult::More) {
                result = readSome(fd, output);
            }
            return result == ReadResult::End;
        }
    }
}

} // namespace

std::optional<std::string> runProgram(const std::string& program,
                                      const std::vector<std::string>& arguments) {
    Pipe input;
    Pipe output;
    if (!input.open() || !output.open()) {
        return std::nullopt;
    }
    SpawnOptions options;
    options.connect(input.read.get(), STDIN_FILENO);
    options.connect(output.write.get(), STDOUT_FILENO);
    pid_t pid = options.spawn(program, arguments, environ);
    if (pid < 0) {
        return std::nullopt;
    }
    input.read.reset();
    output.write.reset();

    std::string text;
    bool complete = collectOutput(pid, output.read.get(), text);
    // Closed before the wait: a program still writing then gets EPIPE instead of blocking.
    output.read.reset();
    reap(pid);
    // Only now does the program's standard input close: it never sees an early end of file.
    input.write.reset();
    if (!complete) {
        return std::nullopt;
    }
    return text;
}

} // namespace platform::process
