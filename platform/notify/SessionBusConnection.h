#pragma once

#include "platform/notify/BusMessage.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace platform::notify {

// A short connection of our own to the session bus for one method call: connect, authenticate
// as our user, call and wait for the answer, every step giving up at one deadline. Of what the
// bus sends it reads only the fixed header and the header fields, and it takes anything out of
// place as the end of the connection.
class SessionBusConnection {
public:
    explicit SessionBusConnection(std::chrono::steady_clock::time_point deadline);
    ~SessionBusConnection();
    SessionBusConnection(const SessionBusConnection&) = delete;
    SessionBusConnection& operator=(const SessionBusConnection&) = delete;

    // Connects to the first unix socket of the address and authenticates.
    bool open(const std::string& address);
    // Sends the call and waits for its answer; false when none came or it was an error.
    bool call(const BusMessage& message);

    // Why the last step failed.
    const std::string& error() const { return error_; }

private:
    struct Header {
        std::uint8_t type = 0;
        std::uint32_t replySerial = 0;
        std::string errorName;
    };

    bool authenticate();
    bool sendAll(const std::string& bytes);
    bool waitUntil(short events);
    bool receive();
    bool readLine(std::string& line);
    bool readMessage(Header& header);
    bool failed(std::string why);

    std::chrono::steady_clock::time_point deadline_;
    int fd_ = -1;
    std::string input_;
    std::string error_;
};

} // namespace platform::notify
