#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace platform::notify {

// Shows messages as desktop notifications (org.freedesktop.Notifications on the session bus),
// at most one per interval. post() never waits for the bus: each notification is sent on a
// short-lived thread of its own, so a bus or a notification service that hangs holds up only
// that thread.
class DesktopNotifier {
public:
    explicit DesktopNotifier(
        std::string applicationName,
        std::chrono::steady_clock::duration interval = std::chrono::minutes(1));
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // Starts sending the message, unless there is no session bus, the last notification was
    // sent less than the interval ago, or it is still on its way.
    void post(const std::string& message);

    // Returns once the notification on its way, if any, has been answered or given up.
    void waitUntilIdle();

private:
    struct State;

    std::string applicationName_;
    std::chrono::steady_clock::duration interval_;
    // Shared with the sending thread, which may outlive this object.
    std::shared_ptr<State> state_;
};

} // namespace platform::notify
