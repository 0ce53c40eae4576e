#include "platform/notify/SessionBusConnection.h"

#include "platform/log/Log.h"
#include "platform/notify/SessionBusAddress.h"

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::notify {

namespace {

constexpr std::uint8_t kMethodReturn = 2;
constexpr std::uint8_t kError = 3;
constexpr std::uint32_t kHelloSerial = 1;
constexpr std::uint32_t kCallSerial = 2;
constexpr std::size_t kLongestLine = 1024;
constexpr std::uint32_t kLargestPart = 64 * 1024;

std::size_t aligned(std::size_t offset, std::size_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

std::uint32_t uint32At(const std::string& bytes, std::size_t at, bool littleEndian) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        auto byte = std::uint8_t(bytes[at + std::size_t(littleEndian ? 3 - i : i)]);
        value = (value << 8) | byte;
    }
    return value;
}

// The header fields of a message, from offset 16 to the end given: a reply's serial and an
// error's name are kept, the other fields skipped; false on any field out of place.
bool readFields(const std::string& bytes, std::size_t end, bool littleEndian, std::uint32_t& serial,
                std::string& errorName) {
    std::size_t at = 16;
    while (at < end) {
        at = aligned(at, 8);
        if (at + 4 > end || bytes[at + 1] != 1 || bytes[at + 3] != '\0') {
            return false;
        }
        auto code = std::uint8_t(bytes[at]);
        char type = bytes[at + 2];
        at += 4;
        if ((code == 5 && type != 'u') || (code == 4 && type != 's')) {
            return false;
        }
        if (type == 'u' || type == 'h') {
            at = aligned(at, 4);
            if (at + 4 > end) {
                return false;
            }
            if (code == 5) {
                serial = uint32At(bytes, at, littleEndian);
            }
            at += 4;
            continue;
        }
        if (type != 's' && type != 'o' && type != 'g') {
            return false;
        }
        std::size_t length = 0;
        if (type == 'g') {
            length = at < end ? std::uint8_t(bytes[at]) : end;
            at += 1;
        } else {
            at = aligned(at, 4);
            length = at + 4 <= end ? uint32At(bytes, at, littleEndian) : end;
            at += 4;
        }
        if (at + length + 1 > end || bytes[at + length] != '\0') {
            return false;
        }
        if (code == 4) {
            errorName = bytes.substr(at, length);
        }
        at += length + 1;
    }
    return true;
}

} // namespace

SessionBusConnection::SessionBusConnection(std::chrono::steady_clock::time_point deadline)
    : deadline_(deadline) {}

SessionBusConnection::~SessionBusConnection() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool SessionBusConnection::failed(std::string why) {
    error_ = std::move(why);
    return false;
}

bool SessionBusConnection::open(const std::string& address) {
    auto socket = unixSocketIn(address);
    sockaddr_un peer{};
    peer.sun_family = AF_UNIX;
    if (!socket || socket->name.size() + 1 > sizeof peer.sun_path) {
        return failed("no unix socket we can reach in the session bus address " +
                      log::printable(address));
    }
    // An abstract name starts with a NUL byte and is not NUL-terminated.
    std::size_t start = socket->abstract ? 1 : 0;
    socket->name.copy(peer.sun_path + start, socket->name.size());
    auto length = socklen_t(offsetof(sockaddr_un, sun_path) + start + socket->name.size() +
                            (socket->abstract ? 0 : 1));
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        return failed(std::string("socket() failed: ") + std::strerror(errno));
    }
    if (connect(fd_, reinterpret_cast<sockaddr*>(&peer), length) != 0) {
        return failed("connect(" + log::printable(socket->name) +
                      ") failed: " + std::strerror(errno));
    }
    return authenticate();
}

bool SessionBusConnection::authenticate() {
    // EXTERNAL: the bus checks our user id from the socket against the one we name, in hex.
    std::string hex;
    for (char digit : std::to_string(geteuid())) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", unsigned(digit));
        hex += pair;
    }
    std::string line;
    if (!sendAll(std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n") || !readLine(line)) {
        return false;
    }
    if (line.rfind("OK ", 0) != 0) {
        return failed("the session bus refused us: " + log::printable(line));
    }
    return sendAll("BEGIN\r\n");
}

bool SessionBusConnection::call(const BusMessage& message) {
    BusMessage hello("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "Hello");
    if (!sendAll(hello.bytes(kHelloSerial) + message.bytes(kCallSerial))) {
        return false;
    }
    for (;;) {
        Header header;
        if (!readMessage(header)) {
            return false;
        }
        // Signals, such as the NameAcquired that follows Hello, are not answers.
        if (header.type != kMethodReturn && header.type != kError) {
            continue;
        }
        if (header.replySerial != kHelloSerial && header.replySerial != kCallSerial) {
            continue;
        }
        if (header.type == kError) {
            std::string name = header.replySerial == kHelloSerial ? hello.name() : message.name();
            return failed(name + " failed: " + log::printable(header.errorName));
        }
        if (header.replySerial == kCallSerial) {
            return true;
        }
    }
}

bool SessionBusConnection::sendAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        // MSG_NOSIGNAL: a bus that went away must not end the program with SIGPIPE.
        ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitUntil(POLLOUT)) {
                return false;
            }
        } else if (n < 0 && errno != EINTR) {
            return failed(std::string("send() failed: ") + std::strerror(errno));
        }
    }
    return true;
}

bool SessionBusConnection::waitUntil(short events) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline_ - std::chrono::steady_clock::now());
        pollfd watched{fd_, events, 0};
        int ready = left.count() > 0 ? poll(&watched, 1, int(left.count())) : 0;
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return failed("no answer from the session bus in time");
        }
        if (errno != EINTR) {
            return failed(std::string("poll() failed: ") + std::strerror(errno));
        }
    }
}

bool SessionBusConnection::receive() {
    if (!waitUntil(POLLIN)) {
        return false;
    }
    char buffer[4096];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
        input_.append(buffer, std::size_t(n));
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    return failed(n == 0 ? "the session bus closed the connection"
                         : std::string("recv() failed: ") + std::strerror(errno));
}

bool SessionBusConnection::readLine(std::string& line) {
    for (;;) {
        auto end = input_.find("\r\n");
        if (end != std::string::npos) {
            line = input_.substr(0, end);
            input_.erase(0, end + 2);
            return true;
        }
        if (input_.size() > kLongestLine) {
            return failed("the session bus sent an overlong line");
        }
        if (!receive()) {
            return false;
        }
    }
}

bool SessionBusConnection::readMessage(Header& header) {
    while (input_.size() < 16) {
        if (!receive()) {
            return false;
        }
    }
    bool littleEndian = input_[0] == 'l';
    std::uint32_t bodyLength = uint32At(input_, 4, littleEndian);
    std::uint32_t fieldsLength = uint32At(input_, 12, littleEndian);
    if ((!littleEndian && input_[0] != 'B') || input_[3] != 1 || bodyLength > kLargestPart ||
        fieldsLength > kLargestPart) {
        return failed("the session bus sent a message we cannot read");
    }
    std::size_t total = aligned(16 + fieldsLength, 8) + bodyLength;
    while (input_.size() < total) {
        if (!receive()) {
            return false;
        }
    }
    header.type = std::uint8_t(input_[1]);
    if (!readFields(input_, 16 + fieldsLength, littleEndian, header.replySerial,
                    header.errorName)) {
        return failed("the session bus sent a message we cannot read");
    }
    input_.erase(0, total);
    return true;
}

} // namespace platform::notify
