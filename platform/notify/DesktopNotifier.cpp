#include "platform/notify/DesktopNotifier.h"

#include "platform/log/Log.h"
#include "platform/paths/SearchPath.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <systemd/sd-bus.h>
#include <thread>

// sd-bus rather than a client of our own: libpulse has libsystemd in our process already, so a
// notification brings in no library of its own.

namespace platform::notify {

namespace {

// Long enough for a notification service that the bus has to start first.
constexpr auto kGiveUpAfter = std::chrono::seconds(10);

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// Address values keep a small set of bytes as they are and escape every other one as %XX.
std::string escaped(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     (c != '\0' && std::strchr("-_/.\\*", c) != nullptr);
        if (plain) {
            out.push_back(char(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", c);
            out += hex;
        }
    }
    return out;
}

// $DBUS_SESSION_BUS_ADDRESS, else the session's default socket in the runtime folder when it
// is there; empty when the session has no bus.
std::string sessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return address;
    }
    std::optional<std::string> runtime = paths::runtimeDirectory(paths::RuntimeFallback::None);
    struct stat info {};
    if (!runtime || ::stat((*runtime + "/bus").c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return {};
    }
    return "unix:path=" + escaped(*runtime + "/bus");
}

std::string failure(const char* step, int error) {
    return std::string(step) + " failed: " + std::strerror(-error);
}

// What became of the call: nullopt while it is on its way, then empty or why it failed.
using Outcome = std::optional<std::string>;

int answered(sd_bus_message* reply, void* userdata, sd_bus_error* /*unused*/) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    *static_cast<Outcome*>(userdata) =
        error ? "Notify failed: " + log::printable(error->name ? error->name : "") : "";
    return 1;
}

// A message of ours: application, replaces no notification, no icon, summary, no body, no
// actions, no hints, the service's own expiry.
Message notification(sd_bus* bus, const std::string& application, const std::string& text) {
    sd_bus_message* raw = nullptr;
    sd_bus_message_new_method_call(bus, &raw, "org.freedesktop.Notifications",
                                   "/org/freedesktop/Notifications",
                                   "org.freedesktop.Notifications", "Notify");
    Message message(raw);
    if (message && sd_bus_message_append(message.get(), "susssasa{sv}i", application.c_str(), 0u,
                                         "", text.c_str(), "", 0, 0, -1) < 0) {
        message.reset();
    }
    return message;
}

// Runs the connection until the answer comes, the connection fails or the deadline passes.
std::string waitForAnswer(sd_bus* bus, const Outcome& outcome,
                          std::chrono::steady_clock::time_point deadline) {
    while (!outcome) {
        int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) {
            return failure("sd_bus_process()", processed);
        }
        if (processed > 0) {
            continue;
        }
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return "no answer from the session bus in time";
        }
        auto micros = std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 1;
        if (int waited = sd_bus_wait(bus, std::uint64_t(micros)); waited < 0 && waited != -EINTR) {
            return failure("sd_bus_wait()", waited);
        }
    }
    return *outcome;
}

// Empty when the service took the notification, else why not.
std::string send(const std::string& address, const std::string& application,
                 const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kGiveUpAfter;
    sd_bus* raw = nullptr;
    if (int error = sd_bus_new(&raw); error < 0) {
        return failure("sd_bus_new()", error);
    }
    Bus bus(raw);
    sd_bus_set_bus_client(bus.get(), 1);
    if (int error = sd_bus_set_address(bus.get(), address.c_str()); error < 0) {
        return failure("sd_bus_set_address()", error);
    }
    if (int error = sd_bus_start(bus.get()); error < 0) {
        return failure("connecting to the session bus", error);
    }
    Message message = notification(bus.get(), application, text);
    if (!message) {
        return "the notification could not be put together";
    }
    Outcome outcome;
    sd_bus_slot* slot = nullptr;
    auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(kGiveUpAfter).count();
    if (int error = sd_bus_call_async(bus.get(), &slot, message.get(), answered, &outcome,
                                      std::uint64_t(timeout));
        error < 0) {
        return failure("sd_bus_call_async()", error);
    }
    Slot pending(slot);
    return waitForAnswer(bus.get(), outcome, deadline);
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
            if (std::string error = send(address, application, message); !error.empty()) {
                platform::log::nslog("no desktop notification: %s", error.c_str());
            }
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
