#include "platform/notify/DesktopNotifier.h"
#include "platform/notify/SessionBusAddress.h"
#include "platform/notify/SessionBusConnection.h"
#include "shared/SoundController.h"

#include "tests/support/Eventually.h"
#include "tests/support/SessionBus.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace platform::audio;
using namespace platform::notify;
using namespace sonvela::test;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The helper's presenter on a simulated output whose mute always fails, with a private session
// bus and a stand-in notification service when a test starts them.
class Notifications : public testing::Test {
protected:
    Notifications() {
        audio.output("hdpn", 0.5f);
        audio.backend->fail(SimulatedBackend::Call::SetMuted);
    }

    std::vector<std::string> environment() const {
        return {"HOME=" + home.path(), "XDG_RUNTIME_DIR=" + home.path() + "/run",
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home.sessionBus(), "PATH=/usr/bin:/bin"};
    }

    void startService(const char* mode) {
        bus = startSessionBus(home.sessionBus(), environment(), home.path() + "/bus.log");
        service = std::make_unique<ChildProcess>(
            std::vector<std::string>{SONVELA_PYTHON3,
                                     SONVELA_SOURCE_DIR "/tests/support/notification_service.py",
                                     record(), mode},
            environment(), home.path() + "/service.log");
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(record()); }))
            << readAll(home.path() + "/service.log");
    }

    std::string record() const { return home.path() + "/notifications"; }
    std::vector<std::string> notifications() const { return linesOf(readAll(record())); }

    // A restore's failed mute with the presenter the helper installs; what it logged.
    std::string failMute(DesktopNotifier& notifier) {
        platform::alert::setPresenter(
            [&notifier](const std::string& message) { notifier.post(message); });
        testing::internal::CaptureStderr();
        SoundController::getInstance()->setHardwareVolume(0.0f);
        notifier.waitUntilIdle();
        return testing::internal::GetCapturedStderr();
    }

    TempHome home;
    DesktopNotifier helperNotifier{"Sonvela Helper"};
    SimulatedAudio audio;
    std::unique_ptr<ChildProcess> bus;
    std::unique_ptr<ChildProcess> service;
};

TEST_F(Notifications, AFailedMuteIsShownOnceAMinuteAndLoggedEveryTime) {
    startService("answer");
    for (int failure = 0; failure < 2; ++failure) {
        std::string logged = failMute(helperNotifier);
        EXPECT_EQ(linesOf(logged).size(), 1u) << logged;
        EXPECT_NE(logged.find("] Unable to mute device."), std::string::npos) << logged;
        EXPECT_EQ(notifications(),
                  std::vector<std::string>{"Sonvela Helper\tUnable to mute device.\t"});
    }
    // Once the interval has passed, the next one is shown again.
    DesktopNotifier everyTime("Sonvela Helper", std::chrono::seconds(0));
    failMute(everyTime);
    failMute(everyTime);
    EXPECT_EQ(notifications().size(), 3u);
}

TEST_F(Notifications, AServiceThatNeverAnswersHoldsUpNoRestore) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS"); // the session's default socket, $XDG_RUNTIME_DIR/bus
    startService("silent");
    platform::alert::setPresenter(
        [this](const std::string& message) { helperNotifier.post(message); });
    testing::internal::CaptureStderr();
    SoundController::getInstance()->setHardwareVolume(0.0f);
    SoundController::getInstance()->setHardwareVolume(0.0f);
    EXPECT_TRUE(eventually([&] { return notifications().size() == 1; }));
    // Both returned before the call could time out, which would have been logged.
    std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(linesOf(logged).size(), 2u) << logged;
}

TEST_F(Notifications, WithoutASessionBusTheLogLineIsAll) {
    struct {
        const char* name;
        bool busAddress;
        bool runtimeFolder;
        std::size_t linesLogged;
    } cases[] = {
        {"no address, no socket in the runtime folder", false, true, 1},
        {"no address, no runtime folder", false, false, 1},
        // The alert, then why it was not shown.
        {"an address where nothing listens", true, true, 2},
    };
    for (const auto& c : cases) {
        std::string address = "unix:path=" + home.sessionBus();
        std::string runtime = home.path() + "/run";
        if (c.busAddress) {
            setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        } else {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
        if (c.runtimeFolder) {
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        DesktopNotifier notifier("Sonvela Helper");
        std::string logged = failMute(notifier);
        EXPECT_EQ(linesOf(logged).size(), c.linesLogged) << c.name << ":\n" << logged;
        EXPECT_NE(logged.find("] Unable to mute device."), std::string::npos) << c.name;
    }
}

// A bus of the test's own for one connection: it takes the authentication, answers it as
// given, sends the bytes given once the client has begun, and hangs up.
class ScriptedBus {
public:
    ScriptedBus(const std::string& path, std::string authAnswer, std::string messages)
        : listener_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        unlink(path.c_str());
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 1) != 0) {
            throw std::runtime_error("cannot listen on " + path);
        }
        thread_ = std::thread([this, authAnswer, messages] { serve(authAnswer, messages); });
    }
    ~ScriptedBus() {
        thread_.join();
        close(listener_);
    }
    ScriptedBus(const ScriptedBus&) = delete;
    ScriptedBus& operator=(const ScriptedBus&) = delete;

private:
    void serve(const std::string& authAnswer, const std::string& messages) {
        int fd = accept(listener_, nullptr, nullptr);
        if (readUntil(fd, "\r\n") && write(fd, authAnswer.data(), authAnswer.size()) > 0 &&
            readUntil(fd, "BEGIN\r\n")) {
            (void)!write(fd, messages.data(), messages.size());
        }
        // Hung up only once the client has: closing with its calls unread would reset the
        // connection before it read ours.
        shutdown(fd, SHUT_WR);
        readUntil(fd, std::string(1, '\xff'));
        close(fd);
    }
    bool readUntil(int fd, const std::string& end) {
        for (char c; read(fd, &c, 1) == 1;) {
            seen_.push_back(c);
            if (seen_.ends_with(end)) {
                return true;
            }
        }
        return false;
    }

    int listener_;
    std::string seen_;
    std::thread thread_;
};

std::string le32(std::uint32_t value) {
    return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

// A body-less message from the bus of the type given that answers the serial, with an error
// name when one is given.
std::string fromBus(char type, std::uint32_t replySerial, const std::string& errorName = "") {
    std::string fields = std::string{5, 1, 'u', 0} + le32(replySerial);
    if (!errorName.empty()) {
        fields +=
            std::string{4, 1, 's', 0} + le32(std::uint32_t(errorName.size())) + errorName + '\0';
    }
    std::string message = std::string{'l', type, 0, 1} + le32(0) + le32(9) +
                          le32(std::uint32_t(fields.size())) + fields;
    message.resize((message.size() + 7) / 8 * 8, '\0');
    return message;
}

// What a call over the scripted bus came to: "" when answered, else the error.
std::string callOver(const std::string& socket, const std::string& authAnswer,
                     const std::string& messages) {
    ScriptedBus bus(socket, authAnswer, messages);
    SessionBusConnection connection(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    bool answered = connection.open("unix:path=" + socket) &&
                    connection.call(BusMessage("org.example", "/", "org.example.I", "M"));
    return answered ? "" : connection.error();
}

TEST(SessionBusConnection, TakesOnlyWhatItCanReadFromTheBus) {
    TempHome home;
    const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n";
    const std::string hello = fromBus(2, 1);
    std::string overlong = fromBus(3, 2, "org.example.Failed");
    overlong[28] = 'X'; // the error name's length, now far past the header fields
    struct {
        const char* name;
        std::string authAnswer;
        std::string messages;
        std::string error;
    } cases[] = {
        {"answer after a signal", ok, fromBus(4, 0) + hello + fromBus(2, 2), ""},
        {"error", ok, hello + fromBus(3, 2, "org.example.Failed"),
         "org.example.I.M failed: org.example.Failed"},
        {"refused", "REJECTED EXTERNAL\r\n", "", "the session bus refused us: REJECTED EXTERNAL"},
        {"cut short", ok, hello + fromBus(2, 2).substr(0, 20),
         "the session bus closed the connection"},
        {"no byte order", ok, "x" + fromBus(2, 2).substr(1),
         "the session bus sent a message we cannot read"},
        {"huge header", ok, fromBus(2, 2).substr(0, 12) + le32(0xffffffff),
         "the session bus sent a message we cannot read"},
        {"string past its field", ok, overlong, "the session bus sent a message we cannot read"},
    };
    const std::string socket = home.path() + "/run/scripted-bus";
    for (const auto& c : cases) {
        EXPECT_EQ(callOver(socket, c.authAnswer, c.messages), c.error) << c.name;
    }
    // Whatever bytes come, it ends without a hang or a crash.
    std::mt19937 random(10);
    for (int i = 0; i < 300; ++i) {
        std::string messages = hello + fromBus(3, 2, "org.example.Failed");
        for (int flips = 0; flips < 3; ++flips) {
            messages[random() % messages.size()] = char(random());
        }
        callOver(socket, ok, messages);
    }
}

TEST(SessionBusAddress, FindsTheFirstUnixSocket) {
    struct {
        const char* address;
        std::optional<std::string> socket;
        bool abstract;
    } cases[] = {
        {"unix:path=/run/user/1000/bus", "/run/user/1000/bus", false},
        {"tcp:host=localhost,port=1;unix:guid=1,abstract=/tmp/a%2cb%3b", "/tmp/a,b;", true},
        {"unix:path=/tmp/bad%zz;unix:path=/tmp/good", "/tmp/good", false},
        {"unix:tmpdir=/tmp", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (const auto& c : cases) {
        auto found = unixSocketIn(c.address);
        ASSERT_EQ(found.has_value(), c.socket.has_value()) << c.address;
        if (found) {
            EXPECT_EQ(found->name, *c.socket) << c.address;
            EXPECT_EQ(found->abstract, c.abstract) << c.address;
        }
    }
}

} // namespace
