#pragma once

#include <optional>
#include <string>

namespace platform::notify {

// $DBUS_SESSION_BUS_ADDRESS, else the session's default socket $XDG_RUNTIME_DIR/bus when it
// exists; empty when the session has no bus.
std::string sessionBusAddress();

struct UnixSocket {
    std::string name;
    bool abstract = false;
};

// The first unix:path= or unix:abstract= socket of a D-Bus address list.
std::optional<UnixSocket> unixSocketIn(const std::string& address);

} // namespace platform::notify
