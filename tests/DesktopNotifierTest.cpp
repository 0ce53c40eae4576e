#include "platform/notify/DesktopNotifier.h"
#include "helper/Sonvela_HelperAppDelegate.h"
#include "platform/notify/SessionBusAddress.h"
#include "platform/notify/SessionBusConnection.h"
#include "shared/SoundController.h"

#include "tests/support/Eventually.h"
#include "tests/support/SessionBus.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace platform::notify;
using namespace sonvela::test;

namespace {

std::size_t linesIn(const std::string& text) {
    return std::size_t(std::count(text.begin(), text.end(), '\n'));
}

// A failed mute in a restore, with the presenter the helper installs; what it logged.
std::string failMute(DesktopNotifier& notifier, bool waitForTheBus = true) {
    platform::alert::setPresenter(
        [&notifier](const std::string& message) { notifier.post(message); });
    testing::internal::CaptureStderr();
    SoundController::getInstance()->setHardwareVolume(0.0f);
    if (waitForTheBus) {
        notifier.waitUntilIdle();
    }
    platform::alert::setPresenter(nullptr);
    return testing::internal::GetCapturedStderr();
}

TEST(DesktopNotifier, AFailedMuteIsLoggedEveryTimeAndShownAtMostOnceAMinuteWithoutWaiting) {
    TempHome home;
    SimulatedAudio audio;
    audio.output("hdpn", 0.5f);
    audio.backend->fail(platform::audio::SimulatedBackend::Call::SetMuted);
    // Without a bus the log line is all. An address where nothing listens gives the alert and
    // why it was not shown; no address and no socket in the runtime folder, or no runtime folder
    // either, the alert alone.
    for (std::size_t lines : {2, 1, 1}) {
        DesktopNotifier notifier("Sonvela Helper");
        std::string logged = failMute(notifier);
        EXPECT_EQ(linesIn(logged), lines) << logged;
        EXPECT_NE(logged.find("] Unable to mute device."), std::string::npos) << logged;
        unsetenv(lines == 2 ? "DBUS_SESSION_BUS_ADDRESS" : "XDG_RUNTIME_DIR");
    }

    // A private bus at the session's default socket, with the stand-in service on it.
    setenv("XDG_RUNTIME_DIR", (home.path() + "/run").c_str(), 1);
    const std::string record = home.path() + "/notifications";
    const std::vector<std::string> environment = {
        "HOME=" + home.path(), "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home.sessionBus(),
        "PATH=/usr/bin:/bin"};
    auto bus = startSessionBus(home.sessionBus(), environment, home.path() + "/bus.log");
    ChildProcess service(
        {SONVELA_PYTHON3, SONVELA_SOURCE_DIR "/tests/support/notification_service.py", record},
        environment, home.path() + "/service.log");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(record); }))
        << readAll(home.path() + "/service.log");
    const std::string shown = "Sonvela Helper\tUnable to mute device.\t\n";
    {
        // The helper's own restores fail to mute, at start-up and at the next notification.
        Sonvela_HelperAppDelegate helper;
        helper.applicationDidFinishLaunching();
        helper.checkAudioDeviceDataSource();
        EXPECT_TRUE(eventually([&] { return readAll(record) == shown; })) << readAll(record);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(readAll(record), shown) << "at most one a minute";
    }
    // Once the interval has passed the next one is shown. The service leaves it unanswered: the
    // restores go on at once, and no other notification is sent while it is on its way.
    DesktopNotifier everyTime("Sonvela Helper", std::chrono::seconds(0));
    std::string logged = failMute(everyTime, false) + failMute(everyTime, false);
    EXPECT_EQ(linesIn(logged), 2u) << logged;
    EXPECT_TRUE(eventually([&] { return readAll(record) == shown + shown; })) << readAll(record);
}

std::string le32(std::uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// A body-less message from the bus of the type given that answers the serial, with an error
// name when one is given.
std::string fromBus(char type, std::uint32_t replySerial, const std::string& errorName = "") {
    std::string fields = std::string{5, 1, 'u', 0} + le32(replySerial);
    if (!errorName.empty()) {
        fields += std::string{4, 1, 's', 0} + le32(std::uint32_t(errorName.size())) + errorName;
        fields += '\0';
    }
    std::string message = std::string{'l', type, 0, 1} + le32(0) + le32(9) +
                          le32(std::uint32_t(fields.size())) + fields;
    message.resize((message.size() + 7) / 8 * 8, '\0');
    return message;
}

// What one call over a bus of the test's own came to, "" when it was answered: the bus sends
// the bytes given at once, then ends its side and waits for the caller to hang up.
std::string callOver(const std::string& path, const std::string& bytes) {
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(path.c_str());
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0) {
        return "cannot listen on " + path;
    }
    std::jthread bus([&] {
        int fd = accept(listener, nullptr, nullptr);
        close(listener);
        (void)!write(fd, bytes.data(), bytes.size());
        shutdown(fd, SHUT_WR);
        for (char c; read(fd, &c, 1) == 1;) {
        }
        close(fd);
    });
    SessionBusConnection connection(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    bool answered = connection.open("unix:path=" + path) &&
                    connection.call(BusMessage("org.example", "/", "org.example.I", "M"));
    return answered ? "" : connection.error();
}

TEST(SessionBusConnection, TakesOnlyWhatItCanReadFromTheBus) {
    TempHome home;
    const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n" + fromBus(2, 1);
    const std::string unreadable = "the session bus sent a message we cannot read";
    std::string overlong = fromBus(3, 2, "org.example.Failed");
    overlong[28] = 'X'; // the error name's length, now far past the header fields
    const std::pair<std::string, std::string> cases[] = {
        {ok + fromBus(4, 0) + fromBus(2, 2), ""},
        {ok + fromBus(3, 2, "org.example.Failed"), "org.example.I.M failed: org.example.Failed"},
        {"REJECTED EXTERNAL\r\n", "the session bus refused us: REJECTED EXTERNAL"},
        {ok + fromBus(2, 2).substr(0, 20), "the session bus closed the connection"},
        {ok + "x" + fromBus(2, 2).substr(1), unreadable},
        {ok + fromBus(2, 2).substr(0, 12) + "\xff\xff\xff\xff", unreadable},
        {ok + overlong, unreadable},
    };
    const std::string socket = home.path() + "/run/scripted-bus";
    for (const auto& [bytes, error] : cases) {
        EXPECT_EQ(callOver(socket, bytes), error);
    }
}

TEST(SessionBusAddress, FindsTheFirstUnixSocket) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"tcp:host=localhost,port=1;unix:guid=1,abstract=/tmp/a%2cb%3b", "/tmp/a,b;", true},
        {"unix:path=/tmp/bad%zz;unix:path=/tmp/good", "/tmp/good", false},
        {"unix:tmpdir=/tmp", "", false},
    };
    for (const auto& [address, socket, abstract] : cases) {
        std::optional<UnixSocket> found = unixSocketIn(address);
        EXPECT_EQ(found ? found->name : "", socket) << address;
        EXPECT_EQ(found && found->abstract, abstract) << address;
    }
}

} // namespace
