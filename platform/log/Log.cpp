#include "platform/log/Log.h"

#include <cctype>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace platform::log {

namespace {

std::string timestamp() {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + used, sizeof text - used, ".%03ld", long(now.tv_usec / 1000));
    return text;
}

void writeAll(const std::string& line) {
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        left -= std::size_t(n);
    }
}

} // namespace

void nslog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message(length > 0 ? std::size_t(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(message.data(), message.size() + 1, format, args);
    }
    va_end(args);

    // One write per line, so lines from several threads never interleave.
    writeAll(timestamp() + " " + program_invocation_short_name + "[" + std::to_string(getpid()) +
             ":" + std::to_string(gettid()) + "] " + message + "\n");
}

std::string printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        if (!std::isprint(static_cast<unsigned char>(c))) {
            c = '?';
        }
    }
    return shown;
}

} // namespace platform::log
