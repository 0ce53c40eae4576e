#include "platform/notify/DesktopNotifier.h"

#include "platform/log/Log.h"
#include "platform/notify/SessionBusAddress.h"
#include "platform/notify/SessionBusConnection.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

// A client of our own on the bus's socket, rather than libdbus (whose pages a first
// notification would bring in: some 300 KiB that would stay resident all day) or a child
// process (gdbus or notify-send, which not every desktop has).

namespace platform::notify {

namespace {

// Long enough for a notification service that the bus has to start first.
constexpr auto kGiveUpAfter = std::chrono::seconds(10);

void send(const std::string& address, const std::string& application, const std::string& message) {
    BusMessage notify("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                      "org.freedesktop.Notifications", "Notify");
    // application, replaces no notification, no icon, summary, no body, no actions, no hints,
    // the service's own expiry
    notify.addString(application)
        .addUint32(0)
        .addString("")
        .addString(message)
        .addString("")
        .addEmptyArray("s")
        .addEmptyArray("{sv}")
        .addInt32(-1);
    SessionBusConnection bus(std::chrono::steady_clock::now() + kGiveUpAfter);
    if (!bus.open(address) || !bus.call(notify)) {
        platform::log::nslog("no desktop notification: %s", bus.error().c_str());
    }
}

} // namespace

struct DesktopNotifier::State {
    std::mutex mutex;
    std::condition_variable idle;
    bool sending = false;
    std::optional<std::chrono::steady_clock::time_point> lastSent;
};

DesktopNotifier::DesktopNotifier(std::string applicationName,
                                 std::chrono::steady_clock::duration interval)
    : applicationName_(std::move(applicationName)), interval_(interval),
      state_(std::make_shared<State>()) {}

void DesktopNotifier::post(const std::string& message) {
    std::string address = sessionBusAddress();
    if (address.empty()) {
        return;
    }
    auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(state_->mutex);
        if (state_->sending || (state_->lastSent && now - *state_->lastSent < interval_)) {
            return;
        }
        state_->sending = true;
        state_->lastSent = now;
    }
    auto sent = [state = state_] {
        std::lock_guard lock(state->mutex);
        state->sending = false;
        state->idle.notify_all();
    };
    try {
        std::thread([address, application = applicationName_, message, sent] {
            send(address, application, message);
            sent();
        }).detach();
    } catch (const std::system_error& e) {
        platform::log::nslog("no desktop notification: %s", e.what());
        sent();
    }
}

void DesktopNotifier::waitUntilIdle() {
    std::unique_lock lock(state_->mutex);
    state_->idle.wait(lock, [this] { return !state_->sending; });
}

} // namespace platform::notify
