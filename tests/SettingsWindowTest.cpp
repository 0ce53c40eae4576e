#include "app/CeilingSpinBox.h"
#include "app/QtWindow.h"
#include "app/SettingsApplication.h"
#include "platform/audio/PulseBackend.h"
#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"
#include "shared/TQZAppTool.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/SoundServer.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/TempHome.h"

#include "ui_MainWindow.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
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

// A settings bundle of the test's own whose Info.plist and resources are the built ones: the
// strings tables, the icons, the script and the real helper bundle.
class BuiltBundle {
public:
    explicit BuiltBundle(std::string path) : path_(std::move(path)) {
        fs::create_directories(path_ + "/Resources");
        for (const auto& entry : fs::directory_iterator(SONVELA_APP_DIR "/Resources")) {
            fs::create_symlink(entry.path(),
                               path_ + "/Resources/" + entry.path().filename().string());
        }
        fs::create_symlink(SONVELA_APP_DIR "/Info.plist", path_ + "/Info.plist");
        platform::bundle::Bundle::overrideMainForTesting(path_);
    }
    ~BuiltBundle() { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The settings program as main() builds it, in a temporary home.
class SettingsWindow : public testing::Test {
protected:
    void TearDown() override { AppUtil::killApplicationByName(kHelper); }

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

    // The user sets a percent in the window.
    void userSets(int percent) { window.ui().volumeSpinBox->setValue(percent); }

    std::string ceilingsPlist() const { return home.configHome() + "/Sonvela/ceilings.plist"; }
    // A row of "All outputs", unfolded first when it is folded.
    const OutputsSection::Row& row(const char* type) {
        if (!window.ui().outputsFoldButton->isChecked()) {
            window.ui().outputsFoldButton->click();
        }
        return *window.outputs().row(type);
    }

    // Runs the GUI thread's events until the condition holds.
    template <typename Condition> bool eventuallyShown(Condition condition) {
        return eventually([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }

    TempHome home;
    SimulatedAudio audio;
    BuiltBundle bundle{home.path() + "/Sonvela.app"};
    SettingsApplication settings;
    SonvelaAppDelegate& delegate = settings.delegate();
    MainWindow& window = settings.window();
    const std::string& app = bundle.path();
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

TEST_F(SettingsWindow, ATypedPercentTakesEffectWhenTheEditEnds) {
    writeTable({{"blth", plist::Value(0.5)}});
    AudioDeviceID id = audio.output("hdpn", 0.2f);
    delegate.applicationDidFinishLaunching();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QSpinBox* box = window.ui().volumeSpinBox;
    auto applied = [&] {
        return std::pair(table()->at("hdpn"), audio.backend->device(id)->volume);
    };

    struct {
        const char* typed;
        Qt::Key ending;
        float volume;
    } edits[] = {{"75", Qt::Key_Return, 0.75f}, {"40", Qt::Key_Tab, 0.4f}};
    for (const auto& edit : edits) {
        box->setFocus();
        box->selectAll();
        std::string before = readAll(home.configPlist());
        audio.backend->clearWrites();
        QTest::keyClicks(box, edit.typed);
        EXPECT_EQ(readAll(home.configPlist()), before) << edit.typed;
        EXPECT_TRUE(audio.backend->writes().empty()) << edit.typed;
        QTest::keyClick(box, edit.ending);
        EXPECT_EQ(applied(), std::pair(plist::Value(edit.volume), edit.volume)) << edit.typed;
    }
    EXPECT_FALSE(box->hasFocus());

    // The arrows and the slider act at once.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(applied(), std::pair(plist::Value(0.41f), 0.41f));
    QTest::keyClick(window.ui().volumeSlider, Qt::Key_PageUp);
    EXPECT_EQ(applied(), std::pair(plist::Value(0.51f), 0.51f));
}

TEST_F(SettingsWindow, AFreshAccountGetsItsTableAtTheFirstLaunch) {
    fs::remove_all(home.configHome());
    unsetenv("XDG_CONFIG_HOME");
    audio.output("hdpn", 0.2f);
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(readAll(home.configPlist()), readAll(app + "/Resources/DefaultConfig.plist"));
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 35);
    for (const std::string& folder : {home.configHome(), home.configHome() + "/Sonvela"}) {
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    }
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

TEST_F(SettingsWindow, AllOutputsListsEveryKindFromTheFilesWithoutWritingThem) {
    writeTable({{"hdmi", plist::Value(0.8)},
                {"line", plist::Value(1.3)},
                {"blth", plist::Value("x")},
                {"ispk", plist::Value(0.9)}});
    audio.output("hdpn", 0.2f);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(window.ui().outputsFrame->isHidden());
    std::string before = readAll(home.configPlist());
    audio.backend->clearWrites();

    window.ui().outputsFoldButton->click();
    EXPECT_FALSE(window.ui().outputsFrame->isHidden());
    const std::pair<const char*, const char*> listed[] = {
        {"blth", "Bluetooth"},        {"usbo", "USB Audio"},     {"hdpn", "Headphones"},
        {"hdst", "Headset"},          {"hdmi", "HDMI / TV"},     {"spdf", "Digital Out (S/PDIF)"},
        {"line", "Line Out"},         {"netw", "Network Audio"}, {"othr", "Other Output"},
        {"ispk", "Internal Speakers"}};
    QGridLayout* grid = window.ui().outputsGrid;
    for (int i = 0; i < int(std::size(listed)); ++i) {
        auto label = [&](int column) {
            return qobject_cast<QLabel*>(grid->itemAtPosition(i + 1, column)->widget());
        };
        EXPECT_EQ(label(1)->text(), listed[i].second);
        EXPECT_EQ(label(1), row(listed[i].first).name);
        EXPECT_FALSE(label(0)->pixmap().isNull()) << listed[i].first;
    }

    // No made-up volumes; the active row shows what the main slider shows.
    const std::tuple<const char*, const char*, int> shown[] = {{"hdmi", "80 %", 80},
                                                               {"line", "100 %", 100},
                                                               {"blth", "—", 0},
                                                               {"usbo", "—", 0},
                                                               {"hdpn", "20 %", 20}};
    for (const auto& [type, text, slider] : shown) {
        EXPECT_EQ(row(type).volume->text(), text) << type;
        EXPECT_EQ(row(type).slider->value(), slider) << type;
    }
    EXPECT_EQ(readAll(home.configPlist()), before);
    EXPECT_FALSE(fs::exists(ceilingsPlist()));
    EXPECT_TRUE(audio.backend->writes().empty());
}

TEST_F(SettingsWindow, EditingAKindThatIsNotActiveWritesOnlyItsEntry) {
    writeTable(
        {{"hdpn", plist::Value(0.3)}, {"hdmi", plist::Value(0.8)}, {"line", plist::Value(0.6)}});
    AudioDeviceID id = audio.output("hdpn", 0.3f);
    delegate.applicationDidFinishLaunching();
    plist::Dictionary expected = *table();
    audio.backend->clearWrites();

    row("hdmi").volume->setValue(40);
    row("usbo").slider->setValue(55);
    expected["hdmi"] = plist::Value(0.4f);
    expected["usbo"] = plist::Value(0.55f);
    // Byte for byte the table with those two entries changed: every other one as it was.
    ASSERT_TRUE(plist::writeXmlAtomically(home.path() + "/expected.plist", expected));
    EXPECT_EQ(readAll(home.configPlist()), readAll(home.path() + "/expected.plist"));
    EXPECT_EQ(row("usbo").volume->text(), "55 %");
    EXPECT_TRUE(audio.backend->writes().empty());
    EXPECT_FLOAT_EQ(audio.backend->device(id)->volume, 0.3f);
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 30);
    EXPECT_FALSE(fs::exists(ceilingsPlist()));
}

TEST_F(SettingsWindow, TheActiveRowAndTheMainSliderAgree) {
    writeTable({{"hdpn", plist::Value(0.3)}, {"hdmi", plist::Value(0.8)}});
    AudioDeviceID phones = audio.output("hdpn", 0.3f);
    AudioDeviceID tv = audio.backend->addDevice(fourCharCode("hdmi"), 0.1f);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(row("hdpn").mark->text(), "Active");
    EXPECT_EQ(row("hdmi").mark->text(), "");

    userSets(60);
    EXPECT_EQ(row("hdpn").volume->value(), 60);
    EXPECT_EQ(row("hdpn").slider->value(), 60);
    row("hdpn").slider->setValue(45);
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 45);
    EXPECT_EQ(window.ui().volumeSlider->value(), 45);
    EXPECT_EQ(table()->at("hdpn"), plist::Value(0.45f));
    EXPECT_FLOAT_EQ(audio.backend->device(phones)->volume, 0.45f);

    // Another program changes the table; the refresh moves the mark and reads it again.
    writeTable({{"hdpn", plist::Value(0.45f)}, {"hdmi", plist::Value(0.25)}});
    std::string written = readAll(home.configPlist());
    audio.backend->clearWrites();
    audio.backend->setDefaultDevice(tv);
    notifyAndSettle();
    EXPECT_EQ(row("hdmi").mark->text(), "Active");
    EXPECT_EQ(row("hdpn").mark->text(), "");
    EXPECT_EQ(row("hdmi").volume->value(), 25);
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 25);
    EXPECT_EQ(row("hdpn").volume->value(), 45);
    EXPECT_EQ(readAll(home.configPlist()), written);
    EXPECT_TRUE(audio.backend->writes().empty());
}

TEST_F(SettingsWindow, CeilingEditsWriteTheCeilingsFileOnly) {
    writeTable({{"hdpn", plist::Value(0.3)}});
    audio.output("hdpn", 0.3f);
    delegate.applicationDidFinishLaunching();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    std::string before = readAll(home.configPlist());
    audio.backend->clearWrites();

    // The internal speakers keep their own volume: nothing to edit but their ceiling.
    EXPECT_EQ(row("ispk").slider, nullptr);
    EXPECT_EQ(row("ispk").volume, nullptr);
    row("ispk").ceiling->setValue(60);
    row("hdpn").ceiling->setValue(60);
    CeilingSpinBox* typed = row("hdmi").ceiling;
    typed->setFocus();
    typed->selectAll();
    QTest::keyClicks(typed, "70");
    QTest::keyClick(typed, Qt::Key_Return);
    EXPECT_EQ(plist::readDictionary(ceilingsPlist()),
              plist::Dictionary({{"ispk", plist::Value(0.6f)},
                                 {"hdpn", plist::Value(0.6f)},
                                 {"hdmi", plist::Value(0.7f)}}));

    // One step above 100 % takes the ceiling away.
    row("hdpn").ceiling->setValue(100);
    QTest::keyClick(row("hdpn").ceiling, Qt::Key_Up);
    EXPECT_EQ(row("hdpn").ceiling->text(), "No ceiling");
    EXPECT_EQ(plist::readDictionary(ceilingsPlist()),
              plist::Dictionary({{"ispk", plist::Value(0.6f)}, {"hdmi", plist::Value(0.7f)}}));
    EXPECT_EQ(readAll(home.configPlist()), before);
    EXPECT_TRUE(audio.backend->writes().empty());
}

TEST_F(SettingsWindow, AnUnreadableCeilingsFileIsLeftAlone) {
    writeTable({{"hdpn", plist::Value(0.3)}});
    sonvela::test::writeAll(ceilingsPlist(), "<plist><dict><key>hdpn</key>");
    audio.output("hdpn", 0.3f);
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(row("hdmi").ceiling->text(), "No ceiling");
    row("hdmi").ceiling->setValue(50);
    EXPECT_EQ(row("hdmi").ceiling->text(), "No ceiling");
    EXPECT_EQ(readAll(ceilingsPlist()), "<plist><dict><key>hdpn</key>");
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

    QCheckBox* running = window.ui().runningCheckBox;
    running->click();
    ASSERT_TRUE(eventuallyShown([&] { return running->isEnabled(); }));
    EXPECT_FALSE(running->isChecked());
    EXPECT_FALSE(helperRuns());
    running->click();
    EXPECT_TRUE(eventually(helperRuns));
    EXPECT_NE(AppUtil::getApplicationPidByName(kHelper), first);
}

TEST_F(SettingsWindow, TheSwitchWaitsForTheStopWithoutHoldingTheWindow) {
    // A helper that ignores the request to end, so the stop waits its whole time.
    std::string stubbornPath = home.path() + "/" + kHelper;
    fs::create_symlink("/bin/sleep", stubbornPath);
    sonvela::test::ChildProcess stubborn(
        {"/bin/sh", "-c", "trap '' TERM; exec \"$0\" 600", stubbornPath}, {},
        home.path() + "/stubborn.log");
    ASSERT_TRUE(eventually(helperRuns));
    audio.output("hdpn", 0.5f);
    delegate.applicationDidFinishLaunching();

    QCheckBox* running = window.ui().runningCheckBox;
    running->click();
    // Back at once, while the stop still waits: the switch waits with it.
    EXPECT_FALSE(running->isEnabled());
    EXPECT_FALSE(running->isChecked());
    userSets(60);
    EXPECT_EQ(table()->at("hdpn"), plist::Value(0.6f));

    // Then it shows what the stop left: the helper still runs.
    ASSERT_TRUE(eventuallyShown([&] { return running->isEnabled(); }));
    EXPECT_TRUE(running->isChecked());
    EXPECT_TRUE(delegate.configModel()->isRunning());
    stubborn.kill();
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

TEST_F(SettingsWindow, StartingItAgainBringsTheWindowToTheFront) {
    audio.output("hdpn", 0.5f);
    ASSERT_TRUE(settings.claim());
    settings.start();
    QWidget other;
    other.show();
    ASSERT_TRUE(eventuallyShown([&] { return QApplication::activeWindow() == &other; }));

    std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen"};
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "PULSE_SERVER"}) {
        environment.push_back(std::string(name) + "=" + std::getenv(name));
    }
    sonvela::test::ChildProcess second({SONVELA_APP_DIR "/bin/Sonvela"}, environment,
                                       home.path() + "/second.log");
    EXPECT_EQ(second.waitForExit(std::chrono::seconds(10)), 0)
        << readAll(home.path() + "/second.log");
    EXPECT_TRUE(eventuallyShown([&] { return QApplication::activeWindow() == &window; }));
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
    EXPECT_TRUE(
        eventuallyShown([&] { return window.ui().deviceNameLabel->text() == "HDMI / TV"; }));
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 80);
    EXPECT_NE(window.ui().deviceIconLabel->pixmap().toImage(), headphones);
    delegate.unregisterListenerForAudioDevice();
}

TEST_F(SettingsWindow, WithoutASoundServerItSaysSoUntilOneComes) {
    sonvela::test::PulseServer server(home.path() + "/server",
                                      {{"phones", "headphone", "Headphones"}});
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    useBackend(std::make_shared<PulseBackend>());
    writeTable({{"hdpn", plist::Value(0.3f)}});
    delegate.registerListenerForAudioDevice();
    delegate.checkAudioDeviceDataSource();
    QImage defaultIcon =
        QIcon(QString::fromStdString(app + "/Resources/sonvela.icns")).pixmap(64, 64).toImage();

    EXPECT_EQ(window.ui().deviceNameLabel->text(), "No sound output");
    EXPECT_EQ(window.ui().deviceIconLabel->pixmap().toImage(), defaultIcon);
    EXPECT_FALSE(window.ui().volumeSlider->isEnabled());
    EXPECT_FALSE(window.ui().volumeSpinBox->isEnabled());

    server.start();
    EXPECT_TRUE(
        eventuallyShown([&] { return window.ui().deviceNameLabel->text() == "Headphones"; }));
    EXPECT_EQ(window.ui().volumeSpinBox->value(), 30);
    EXPECT_TRUE(window.ui().volumeSlider->isEnabled());
    EXPECT_TRUE(window.ui().volumeSpinBox->isEnabled());
    delegate.unregisterListenerForAudioDevice();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
