#include "app/MainWindow.h"
#include "app/QtWindow.h"
#include "app/SonvelaAppDelegate.h"
#include "platform/audio/PulseBackend.h"
#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"
#include "shared/TQZAppTool.h"
#include "tests/support/Eventually.h"
#include "tests/support/PulseServer.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include "ui_MainWindow.h"

#include <QApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <filesystem>

using namespace platform::audio;
using sonvela::test::eventually;
using sonvela::test::readAll;
using sonvela::test::SimulatedAudio;
using sonvela::test::TempHome;
namespace fs = std::filesystem;
namespace plist = platform::plist;

namespace {

const char* const kHelper = "Sonvela Helper";

bool helperRuns() {
    return AppUtil::applicationIsRunning(kHelper);
}

// A settings bundle of the test's own whose resources are the built ones: the strings tables,
// the icons, the script and the real helper bundle.
class SettingsWindow : public testing::Test {
protected:
    void SetUp() override {
        app = home.path() + "/Sonvela.app";
        fs::create_directories(app + "/Resources");
        for (const auto& entry : fs::directory_iterator(SONVELA_APP_DIR "/Resources")) {
            fs::create_symlink(entry.path(),
                               app + "/Resources/" + entry.path().filename().string());
        }
        platform::bundle::Bundle::overrideMainForTesting(app);
        window.bind(delegate.configModel());
        delegate.setWindow(&window);
    }
    void TearDown() override {
        AppUtil::killApplicationByName(kHelper);
        platform::bundle::Bundle::overrideMainForTesting(std::nullopt);
    }

    void writeTable(const plist::Dictionary& table) {
        sonvela::test::makeDirs(home.configHome() + "/Sonvela");
        ASSERT_TRUE(plist::writeXmlAtomically(home.configPlist(), table));
    }
    std::optional<plist::Dictionary> table() { return plist::readDictionary(home.configPlist()); }

    void notifyAndSettle() {
        audio.backend->notify();
        audio.backend->waitUntilIdle();
        QCoreApplication::processEvents();
    }

    // The user types a percent into the window.
    void userSets(int percent) { window.ui().volumeSpinBox->setValue(percent); }

    TempHome home;
    SimulatedAudio audio;
    SonvelaAppDelegate delegate;
    MainWindow window;
    std::string app;
};

struct RefreshCase {
    const char* name;
    const char* type;
    float hardware;
    std::optional<plist::Value> stored;
    quint32 shown;
};

void PrintTo(const RefreshCase& c, std::ostream* os) {
    *os << c.name;
}

class Refresh : public SettingsWindow, public testing::WithParamInterface<RefreshCase> {};

TEST_P(Refresh, ShowsTheVolumeThatBelongsToTheOutput) {
    const RefreshCase& c = GetParam();
    plist::Dictionary stored{{"line", plist::Value(0.1)}};
    if (c.stored) {
        stored[c.type] = *c.stored;
    }
    writeTable(stored);
    audio.output(c.type, c.hardware);

    delegate.checkAudioDeviceDataSource();

    EXPECT_EQ(delegate.configModel()->outputVolume(), c.shown);
    EXPECT_EQ(delegate.configModel()->deviceType().toStdString(), c.type);
    EXPECT_TRUE(audio.backend->writes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refresh,
    testing::Values(RefreshCase{"IgnoredShowsHardware", "ispk", 0.4f, plist::Value(0.9), 40},
                    RefreshCase{"Stored", "hdpn", 0.2f, plist::Value(0.75), 75},
                    RefreshCase{"StoredAboveOne", "hdpn", 0.2f, plist::Value(1.3), 130},
                    RefreshCase{"NoEntryShowsHardware", "hdmi", 0.509f, std::nullopt, 50},
                    RefreshCase{"WholePercentSetStaysIt", "hdpn", 0.2f, plist::Value(0.53f), 53},
                    RefreshCase{"AnotherWholePercent", "hdpn", 0.2f, plist::Value(0.59f), 59},
                    RefreshCase{"NotANumberShowsHardware", "hdpn", 0.33f, plist::Value("x"), 33}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsWindow, NameAndIconFollowTheOutput) {
    audio.output("hdpn", 0.5f);
    delegate.checkAudioDeviceDataSource();
    EXPECT_EQ(window.ui().deviceNameLabel->text(), "Headphones");
    EXPECT_FALSE(window.ui().deviceIconLabel->pixmap().isNull());

    audio.output("zzzz", 0.5f);
    delegate.checkAudioDeviceDataSource();
    EXPECT_EQ(window.ui().deviceNameLabel->text(), "zzzz");
    EXPECT_FALSE(
        delegate.configModel()->valueForKey(ConfigModel::kDeviceIcon).value<QIcon>().isNull());
}

TEST_F(SettingsWindow, UsersVolumeIsStoredAndApplied) {
    writeTable({{"blth", plist::Value(0.5)}});
    AudioDeviceID id = audio.output("hdpn", 0.2f, true);
    delegate.applicationDidFinishLaunching();

    // The first change after start-up counts like every other one.
    userSets(75);
    EXPECT_EQ(table()->at("hdpn"), plist::Value(0.75f));
    EXPECT_EQ(table()->at("blth"), plist::Value(0.5));
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.75f);
    EXPECT_FALSE(audio.backend->device(id)->muted);

    userSets(0);
    EXPECT_EQ(table()->at("hdpn"), plist::Value(0.0f));
    EXPECT_TRUE(audio.backend->device(id)->muted);
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.75f);
}

TEST_F(SettingsWindow, IgnoredOutputSetsTheHardwareOnly) {
    writeTable({{"hdpn", plist::Value(0.3)}});
    std::string before = readAll(home.configPlist());
    AudioDeviceID id = audio.output("ispk", 0.2f);
    delegate.applicationDidFinishLaunching();

    userSets(64);
    EXPECT_EQ(readAll(home.configPlist()), before);
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.64f);
}

TEST_F(SettingsWindow, NotifiedRefreshIsQueuedAndNeverEchoes) {
    writeTable({{"hdpn", plist::Value(0.3)}, {"hdmi", plist::Value(0.8)}});
    AudioDeviceID phones = audio.output("hdpn", 0.2f);
    AudioDeviceID tv = audio.backend->addDevice(fourCharCode("hdmi"), 0.1f);
    delegate.applicationDidFinishLaunching();
    std::string before = readAll(home.configPlist());
    audio.backend->clearWrites();
    QSignalSpy spy(delegate.configModel(), &ConfigModel::valueChanged);

    audio.backend->setDefaultDevice(tv);
    audio.backend->waitUntilIdle();
    // Queued: nothing has changed until the GUI thread runs its events.
    EXPECT_EQ(spy.count(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(delegate.configModel()->deviceType(), "hdmi");
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 80);
    notifyAndSettle();
    EXPECT_EQ(readAll(home.configPlist()), before);
    EXPECT_TRUE(audio.backend->writes().empty());

    // And the user's next change after two refreshes is still taken.
    userSets(70);
    EXPECT_EQ(table()->at("hdmi"), plist::Value(0.7f));
    EXPECT_FLOAT_EQ(audio.backend->device(tv)->volume, 0.7f);
    EXPECT_FLOAT_EQ(audio.backend->device(phones)->volume, 0.2f);
}

TEST_F(SettingsWindow, StartUpLaunchesTheHelperOnceAndTheSwitchStopsIt) {
    audio.output("hdpn", 0.5f);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(delegate.configModel()->isRunning());
    EXPECT_TRUE(window.ui().runningCheckBox->isChecked());
    ASSERT_TRUE(eventually(helperRuns));
    auto first = AppUtil::getApplicationPidByName(kHelper);

    // A second start finds it running and leaves it be.
    SonvelaAppDelegate second;
    second.applicationDidFinishLaunching();
    EXPECT_TRUE(second.configModel()->isRunning());
    EXPECT_EQ(AppUtil::getApplicationPidsByName(kHelper).size(), 1u);

    window.ui().runningCheckBox->click();
    EXPECT_TRUE(eventually([] { return !helperRuns(); }));
    window.ui().runningCheckBox->click();
    EXPECT_TRUE(eventually(helperRuns));
    EXPECT_NE(AppUtil::getApplicationPidByName(kHelper), first);
}

TEST_F(SettingsWindow, LoginSwitchAddsAndRemovesTheHelperAndPrintsTheList) {
    audio.output("hdpn", 0.5f);
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(delegate.configModel()->isLoginItem());

    testing::internal::CaptureStdout();
    window.ui().loginItemCheckBox->click();
    std::string listing = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(AppUtil::applicationIsLoginItem("Sonvela Helper.app"));
    EXPECT_NE(listing.find(app + "/Resources/Sonvela Helper.app"), std::string::npos) << listing;

    testing::internal::CaptureStdout();
    window.ui().loginItemCheckBox->click();
    listing = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(AppUtil::applicationIsLoginItem("Sonvela Helper.app"));
    EXPECT_NE(listing.find("LoginItems are Empty"), std::string::npos) << listing;

    SonvelaAppDelegate later;
    window.ui().loginItemCheckBox->click();
    later.applicationDidFinishLaunching();
    EXPECT_TRUE(later.configModel()->isLoginItem());
}

TEST_F(SettingsWindow, TitleComesFromTheStringsTable) {
    delegate.awakeFromNib();
    EXPECT_EQ(window.windowTitle(), "Sonvela");
    EXPECT_FALSE(delegate.applicationShouldHandleReopen(true));
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(SettingsWindow, CloseSheetEndsTheWindowModalDialogWithCode23) {
    window.show();
    QtWindow shown(&window);
    TQZAppTool::closeSheet(shown); // no sheet: nothing happens
    EXPECT_TRUE(window.isVisible());

    QDialog sheet(&window);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.show();
    QDialog other(&window); // an ordinary dialog is no sheet
    QSignalSpy finished(&sheet, &QDialog::finished);
    TQZAppTool::closeSheet(shown);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.front().front().toInt(), 23);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(SettingsWindow, OnARealServerSwitchingTheDefaultSinkUpdatesWhatIsShown) {
    sonvela::test::PulseServer server(
        home.path() + "/server",
        {{"phones", "headphone", "Headphones"}, {"tv", "tv", "Television"}});
    server.start();
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    useBackend(makeBackend<PulseBackend>());
    writeTable({{"hdpn", plist::Value(0.3f)}, {"hdmi", plist::Value(0.8f)}});
    delegate.registerListenerForAudioDevice();
    delegate.checkAudioDeviceDataSource();
    EXPECT_EQ(window.ui().deviceNameLabel->text(), "Headphones");
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 30);
    QImage headphones = window.ui().deviceIconLabel->pixmap().toImage();

    server.switchDefault("tv");
    EXPECT_TRUE(eventually([&] {
        QCoreApplication::processEvents();
        return window.ui().deviceNameLabel->text() == "HDMI / TV";
    }));
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 80);
    EXPECT_NE(window.ui().deviceIconLabel->pixmap().toImage(), headphones);
    delegate.unregisterListenerForAudioDevice();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
