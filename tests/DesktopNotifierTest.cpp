#include "platform/notify/DesktopNotifier.h"
#include "helper/Sonvela_HelperAppDelegate.h"
#include "platform/bundle/Bundle.h"
#include "shared/SoundController.h"

#include "tests/support/Eventually.h"
#include "tests/support/SessionBus.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

using namespace platform::notify;
using namespace sonvela::test;

namespace {

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

// A private bus at the session's default socket, with the stand-in service on it; the service
// writes what it is shown into the record.
struct NotificationService {
    explicit NotificationService(const TempHome& home)
        : record(home.path() + "/notifications"),
          environment{"HOME=" + home.path(),
                      "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home.sessionBus(),
                      "PATH=/usr/bin:/bin"},
          bus(startSessionBus(home.sessionBus(), environment, home.path() + "/bus.log")),
          service({SONVELA_PYTHON3, SONVELA_SOURCE_DIR "/tests/support/notification_service.py",
                   record},
                  environment, home.path() + "/service.log") {}
    bool ready() {
        return eventually([&] { return std::filesystem::exists(record); });
    }
    const std::string record;
    const std::vector<std::string> environment;
    std::unique_ptr<ChildProcess> bus;
    ChildProcess service;
};

TEST(DesktopNotifier, AFailedMuteIsLoggedEveryTimeAndShownAtMostOnceAMinuteWithoutWaiting) {
    TempHome home;
    SimulatedAudio audio;
    audio.output("hdpn", 0.5f);
    audio.backend->fail(platform::audio::SimulatedBackend::Call::SetMuted);
    // No bus: an address where nothing listens logs the alert and why it was not shown; no
    // address and no socket in the runtime folder, or no runtime folder, the alert alone.
    std::string logged;
    for (int lines : {2, 1, 1}) {
        DesktopNotifier notifier("Sonvela Helper");
        logged = failMute(notifier);
        EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), lines) << logged;
        EXPECT_NE(logged.find("] Unable to mute device."), std::string::npos) << logged;
        unsetenv(lines == 2 ? "DBUS_SESSION_BUS_ADDRESS" : "XDG_RUNTIME_DIR");
    }

    setenv("XDG_RUNTIME_DIR", (home.path() + "/run").c_str(), 1);
    NotificationService service(home);
    ASSERT_TRUE(service.ready()) << readAll(home.path() + "/service.log");
    const std::string& record = service.record;
    const std::string shown = "Sonvela Helper\tUnable to mute device.\t\n";
    const std::string french = "Sonvela Helper\tImpossible de couper le son du périphérique.\t\n";
    {
        // The helper's own restores fail to mute, at start-up and, once the first alert has been
        // answered, at the next notification. It speaks the user's language, from the helper's
        // own bundle; the log line stays as it is, for whoever reads the log.
        UserLanguage language("fr");
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_HELPER_APP_DIR);
        testing::internal::CaptureStderr();
        Sonvela_HelperAppDelegate helper;
        helper.applicationDidFinishLaunching();
        EXPECT_TRUE(eventually([&] { return readAll(record) == french; })) << readAll(record);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        helper.checkAudioDeviceDataSource();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(readAll(record), french) << "at most one a minute";
        logged = testing::internal::GetCapturedStderr();
        EXPECT_NE(logged.find("] Unable to mute device.\n"), std::string::npos) << logged;
        platform::bundle::Bundle::overrideMainForTesting(std::nullopt);
    }
    // Once the interval has passed the next one is shown. The service leaves it unanswered: the
    // restores go on at once, and no other notification is sent while it is on its way.
    DesktopNotifier everyTime("Sonvela Helper", std::chrono::seconds(0));
    logged = failMute(everyTime, false) + failMute(everyTime, false);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 2) << logged;
    EXPECT_TRUE(eventually([&] { return readAll(record) == french + shown; })) << readAll(record);
}

} // namespace
