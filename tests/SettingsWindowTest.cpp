#include "app/CeilingSlider.h"
#include "app/CeilingSpinBox.h"
#include "app/QtWindow.h"
#include "app/SettingsApplication.h"
#include "app/Translations.h"
#include "platform/audio/PulseBackend.h"
#include "platform/bundle/Bundle.h"
#include "platform/plist/PlistFile.h"
#include "shared/AppUtil.h"
#include "shared/SoundController.h"
#include "shared/TQZAppTool.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/SimulatedAudio.h"
#include "tests/support/SoundServer.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"

#include "ui_MainWindow.h"

#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

using namespace platform::audio;
using platform::bundle::Bundle;
using sonvela::test::eventually;
using sonvela::test::processesNamed;
using sonvela::test::readAll;
using Table = platform::plist::Dictionary;
using Value = platform::plist::Value;
using platform::plist::LargeInteger;

namespace {

const char* const kHelper = "Sonvela Helper";

bool helperRuns() {
    return AppUtil::applicationIsRunning(kHelper);
}

// The built bundle's strings tables, icons, default table and helper stand for the program's.
struct BuiltBundle {
    BuiltBundle() { platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR); }
    ~BuiltBundle() { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }
};

// The settings program as main() builds it, in a temporary home.
class SettingsWindow : public testing::Test {
protected:
    void TearDown() override { AppUtil::killApplicationByName(kHelper); }

    // The stored table, the default output, and the start.
    AudioDeviceID launch(const Table& stored, const char* type, float volume, bool muted = false) {
        writeTable(stored);
        AudioDeviceID id = audio.output(type, volume, muted);
        delegate.applicationDidFinishLaunching();
        return id;
    }
    void writeTable(const Table& stored) {
        sonvela::test::makeDirs(home.configHome() + "/Sonvela");
        ASSERT_TRUE(platform::plist::writeXmlAtomically(home.configPlist(), stored));
    }
    Table table() { return platform::plist::readDictionary(home.configPlist()).value_or(Table{}); }
    std::string tableFile() { return readAll(home.configPlist()); }
    float hardware(AudioDeviceID id) { return audio.backend->device(id)->volume; }
    std::string ceilingsPlist() const { return home.configHome() + "/Sonvela/ceilings.plist"; }
    std::optional<Table> ceilings() { return platform::plist::readDictionary(ceilingsPlist()); }
    // A row of "All outputs", once the section has been unfolded.
    const OutputsSection::Row& row(const char* type) { return *window.outputs().row(type); }
    // The output as the window shows it, and whether its volume can be set.
    std::string shown() {
        bool settable = ui.volumeSlider->isEnabled() && ui.volumeSpinBox->isEnabled();
        return (ui.deviceNameLabel->text() + " " + ui.volumeSpinBox->text()).toStdString() +
               (settable ? "" : " (off)");
    }
    // Runs the GUI thread's events until the condition holds.
    template <typename Condition> bool eventuallyShown(Condition condition) {
        return eventually([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }

    sonvela::test::TempHome home;
    sonvela::test::SimulatedAudio audio;
    BuiltBundle bundle;
    SettingsApplication settings;
    SonvelaAppDelegate& delegate = settings.delegate();
    MainWindow& window = settings.window();
    Ui::MainWindow& ui = window.ui();
    const QList<QVariantList> oneStop{{true}, {false}};
};

struct RefreshCase {
    const char* name;
    const char* type;
    float hardware;
    std::optional<Value> stored;
    quint32 volume;
    const char* shownName;
    // The description of an effects sink the sound passes through, if any.
    const char* throughSink = nullptr;
    friend void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.name; }
};

class Refresh : public SettingsWindow, public testing::WithParamInterface<RefreshCase> {};

TEST_P(Refresh, ShowsTheVolumeNameAndIconThatBelongToTheOutput) {
    const RefreshCase& c = GetParam();
    Table entries{{"line", Value(0.1)}};
    if (c.stored) {
        entries[c.type] = *c.stored;
    }
    writeTable(entries);
    audio.output(c.type, c.hardware);
    if (c.throughSink) {
        AudioDeviceID front = audio.backend->addDevice(fourCharCode("othr"));
        audio.backend->setDescription(front, c.throughSink);
        audio.backend->setSinkInFront(front);
        audio.backend->waitUntilIdle();
    }

    delegate.checkAudioDeviceDataSource();
    EXPECT_EQ(delegate.configModel()->outputVolume(), c.volume);
    EXPECT_EQ(ui.deviceNameLabel->text().toStdString(), c.shownName);
    EXPECT_FALSE(ui.deviceIconLabel->pixmap().isNull());
    EXPECT_TRUE(audio.backend->writes().empty());
}

const RefreshCase kRefreshCases[] = {
    {"IgnoredShowsHardware", "ispk", 0.4f, Value(0.9), 40, "Internal Speakers"},
    {"StoredAboveOne", "hdpn", 0.2f, Value(1.3), 130, "Headphones"},
    {"NoEntryShowsHardware", "hdmi", 0.509f, {}, 50, "HDMI / TV"},
    {"WholePercentSetStaysIt", "hdpn", 0.2f, Value(0.53f), 53, "Headphones"},
    {"IntegerBelowAnyShowsZero", "hdpn", 0.2f, Value(LargeInteger{"-99999999999999999999"}), 0,
     "Headphones"},
    {"UnsignedMaxShowsItsPercent", "hdpn", 0.2f, Value(UINT64_MAX), 0xFFFFFFFFu, "Headphones"},
    {"TinyTextShowsZero", "hdpn", 0.2f, Value("0." + std::string(45, '0') + "1"), 0, "Headphones"},
    {"UnknownKindShowsItsCode", "zzzz", 0.5f, {}, 50, "zzzz"},
    {"ThroughAnEffectsSink", "hdpn", 0.2f, Value(0.6), 60, "Headphones\nthrough Equalizer",
     "Equalizer"}};

INSTANTIATE_TEST_SUITE_P(Cases, Refresh, testing::ValuesIn(kRefreshCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsWindow, TheUsersVolumeIsStoredAndAppliedATypedOneWhenTheEditEnds) {
    AudioDeviceID id = launch({{"blth", Value(0.5)}}, "hdpn", 0.2f, true);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QSpinBox* box = ui.volumeSpinBox;
    auto applied = [&] { return std::pair(table().at("hdpn"), hardware(id)); };

    // The first change after start-up counts like every other one.
    for (auto [typed, ending, volume] :
         {std::tuple("75", Qt::Key_Return, 0.75f), std::tuple("40", Qt::Key_Tab, 0.4f)}) {
        std::string before = tableFile();
        audio.backend->clearWrites();
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, typed);
        EXPECT_EQ(tableFile(), before) << typed;
        EXPECT_TRUE(audio.backend->writes().empty()) << typed;
        QTest::keyClick(box, ending);
        EXPECT_EQ(applied(), std::pair(Value(volume), volume)) << typed;
    }
    EXPECT_FALSE(audio.backend->device(id)->muted);

    // The arrows and the slider act at once.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(applied(), std::pair(Value(0.41f), 0.41f));
    QTest::keyClick(ui.volumeSlider, Qt::Key_PageUp);
    EXPECT_EQ(applied(), std::pair(Value(0.51f), 0.51f));
    EXPECT_EQ(table(), Table({{"blth", Value(0.5)}, {"hdpn", Value(0.51f)}}));
}

TEST_F(SettingsWindow, AFreshAccountGetsItsTableAtTheFirstLaunch) {
    std::filesystem::remove_all(home.configHome());
    unsetenv("XDG_CONFIG_HOME");
    audio.output("hdpn", 0.2f);
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(tableFile(), readAll(SONVELA_APP_DIR "/Resources/DefaultConfig.plist"));
    EXPECT_EQ(shown(), "Headphones 35 %");
}

TEST_F(SettingsWindow, IgnoredOutputSetsTheHardwareOnly) {
    AudioDeviceID id = launch({{"hdpn", Value(0.3)}}, "ispk", 0.2f);
    ui.volumeSpinBox->setValue(64);
    EXPECT_EQ(table(), Table({{"hdpn", Value(0.3)}}));
    EXPECT_FLOAT_EQ(hardware(id), 0.64f);
}

TEST_F(SettingsWindow, ANotifiedRefreshIsQueuedMovesTheActiveRowAndNeverEchoes) {
    AudioDeviceID phones = launch({{"hdpn", Value(0.3)}, {"hdmi", Value(0.8)}}, "hdpn", 0.3f);
    AudioDeviceID tv = audio.backend->addDevice(fourCharCode("hdmi"), 0.1f);
    ui.outputsFoldButton->click();

    // The active row and the main slider agree.
    ui.volumeSpinBox->setValue(60);
    EXPECT_EQ(row("hdpn").slider->value(), 60);
    row("hdpn").slider->setValue(45);
    EXPECT_EQ(shown(), "Headphones 45 %");
    EXPECT_FLOAT_EQ(hardware(phones), 0.45f);

    // Another program changes the table; the refresh moves the mark and reads it again.
    writeTable({{"hdpn", Value(0.45f)}, {"hdmi", Value(0.25)}});
    std::string written = tableFile();
    audio.backend->clearWrites();
    QSignalSpy types(delegate.configModel(), &ConfigModel::deviceTypeChanged);
    QSignalSpy volumes(delegate.configModel(), &ConfigModel::outputVolumeChanged);
    audio.backend->setDefaultDevice(tv);
    audio.backend->waitUntilIdle();
    EXPECT_EQ(types.count() + volumes.count(), 0)
        << "nothing changes before the GUI thread runs its events";
    QCoreApplication::processEvents();
    EXPECT_EQ(row("hdmi").mark->text() + "|" + row("hdpn").mark->text(), "Active|");
    EXPECT_EQ(row("hdmi").volume->text() + "|" + row("hdpn").volume->text(), "25 %|45 %");
    EXPECT_EQ(shown(), "HDMI / TV 25 %");
    audio.backend->notify();
    audio.backend->waitUntilIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(tableFile(), written);
    EXPECT_TRUE(audio.backend->writes().empty());

    // The user's next change after two refreshes is still taken.
    ui.volumeSpinBox->setValue(70);
    EXPECT_EQ(table().at("hdmi"), Value(0.7f));
    EXPECT_FLOAT_EQ(hardware(tv), 0.7f);
    EXPECT_FLOAT_EQ(hardware(phones), 0.45f);
}

TEST_F(SettingsWindow, AllOutputsListsEveryKindFromTheFilesAndWritesOnlyWhatIsEdited) {
    AudioDeviceID id = launch(
        {{"hdmi", Value(0.8)}, {"line", Value(1.3)}, {"blth", Value("x")}, {"ispk", Value(0.9)}},
        "hdpn", 0.2f);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Table expected = table();
    audio.backend->clearWrites();
    EXPECT_TRUE(ui.outputsScrollArea->isHidden());
    ui.outputsFoldButton->click();
    EXPECT_FALSE(ui.outputsScrollArea->isHidden());
    QStringList names;
    for (int i = 1; i < ui.outputsGrid->rowCount(); ++i) {
        auto label = [&](int column) {
            return qobject_cast<QLabel*>(ui.outputsGrid->itemAtPosition(i, column)->widget());
        };
        names << label(1)->text();
        EXPECT_FALSE(label(0)->pixmap().isNull()) << i;
    }
    EXPECT_EQ(names.join(", "), "Bluetooth, USB Audio, Headphones, Headset, HDMI / TV, Digital "
                                "Out (S/PDIF), Line Out, Network Audio, Other Output, Internal "
                                "Speakers");
    // No made-up volumes; the active row shows what the main slider shows.
    QString volumes;
    for (const char* kind : {"hdmi", "line", "blth", "hdpn"}) {
        volumes += row(kind).volume->text() + QString(" %1|").arg(row(kind).slider->value());
    }
    EXPECT_EQ(volumes, "80 % 80|100 % 100|— 0|20 % 20|");

    // A kind that is not active: its entry alone, and never the hardware.
    row("hdmi").volume->setValue(40);
    row("usbo").slider->setValue(55);
    expected["hdmi"] = Value(0.4f);
    expected["usbo"] = Value(0.55f);
    EXPECT_EQ(table(), expected);
    EXPECT_EQ(row("usbo").volume->text(), "55 %");
    EXPECT_FLOAT_EQ(hardware(id), 0.2f);
    EXPECT_EQ(shown(), "Headphones 20 %");
    EXPECT_FALSE(std::filesystem::exists(ceilingsPlist()));

    // Ceilings go to their own file; the internal speakers have nothing else to edit.
    EXPECT_EQ(row("ispk").slider, nullptr);
    EXPECT_EQ(row("ispk").volume, nullptr);
    row("ispk").ceiling->setValue(60);
    row("hdpn").ceiling->setValue(60);
    row("hdmi").ceiling->setFocus();
    row("hdmi").ceiling->selectAll();
    QTest::keyClicks(row("hdmi").ceiling, "70\r");
    EXPECT_EQ(ceilings(),
              Table({{"ispk", Value(0.6f)}, {"hdpn", Value(0.6f)}, {"hdmi", Value(0.7f)}}));
    // One step above 100 % takes the ceiling away.
    row("hdpn").ceiling->setValue(100);
    QTest::keyClick(row("hdpn").ceiling, Qt::Key_Up);
    EXPECT_EQ(row("hdpn").ceiling->text(), "No ceiling");
    EXPECT_EQ(ceilings(), Table({{"ispk", Value(0.6f)}, {"hdmi", Value(0.7f)}}));
    EXPECT_EQ(table(), expected);
    EXPECT_TRUE(audio.backend->writes().empty());

    // An unreadable ceilings file is left alone.
    const char* const unreadable = "<plist><dict><key>hdpn</key>";
    sonvela::test::writeAll(ceilingsPlist(), unreadable);
    ui.outputsFoldButton->click();
    ui.outputsFoldButton->click();
    row("hdmi").ceiling->setValue(50);
    EXPECT_EQ(row("hdmi").ceiling->text(), "No ceiling");
    EXPECT_EQ(readAll(ceilingsPlist()), unreadable);
}

TEST_F(SettingsWindow, ACeilingBelowTheStoredVolumeShowsWhereItHoldsIt) {
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    ASSERT_TRUE(platform::plist::writeXmlAtomically(
        ceilingsPlist(), Table{{"hdpn", Value(0.6)}, {"hdmi", Value(0.7)}}));
    launch({{"hdpn", Value(0.9)}, {"hdmi", Value(0.8)}, {"line", Value(0.5)}}, "hdpn", 0.6f);
    std::string stored = tableFile();
    auto held = [&] {
        return ui.heldLabel->isVisibleTo(&window) ? ui.heldLabel->text().toStdString() : "";
    };
    // The model and the slider keep the stored value; the mark and the line show the ceiling.
    EXPECT_EQ(shown(), "Headphones 90 %");
    EXPECT_EQ(held(), "Held at 60 % by its ceiling");
    EXPECT_EQ(ui.volumeSlider->heldAt(), 60);
    EXPECT_EQ(tableFile(), stored);

    ui.outputsFoldButton->click();
    auto rowHeld = [&](const char* kind) { return row(kind).slider->heldAt(); };
    EXPECT_EQ(rowHeld("hdpn"), 60);
    EXPECT_EQ(rowHeld("hdmi"), 70);
    EXPECT_EQ(row("hdmi").slider->toolTip().toStdString(), "Held at 70 % by its ceiling");
    EXPECT_EQ(rowHeld("line"), std::nullopt);

    // Below the ceiling nothing holds it; a ceiling set in the row holds it again.
    ui.volumeSpinBox->setValue(50);
    ui.volumeSpinBox->setValue(55);
    EXPECT_EQ(held(), "");
    EXPECT_EQ(rowHeld("hdpn"), std::nullopt);
    row("hdpn").ceiling->setValue(40);
    EXPECT_EQ(held(), "Held at 40 % by its ceiling");
    EXPECT_EQ(rowHeld("hdpn"), 40);
    row("hdpn").ceiling->setValue(CeilingSpinBox::kNoCeiling);
    EXPECT_EQ(held(), "");
    row("line").ceiling->setValue(30);
    EXPECT_EQ(rowHeld("line"), 30);
}

TEST_F(SettingsWindow, AllOutputsScrollsOnASmallScreenAndTabGoesInReadingOrder) {
    launch({}, "hdpn", 0.5f);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.move(0, 150);
    QSize folded = window.size();
    ui.outputsFoldButton->click();
    // The screen (see main) is less tall than the unfolded window wants: it fits, moved up.
    QRect screen = window.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window.frameGeometry()))
        << window.frameGeometry().height() << " " << window.frameGeometry().y();
    EXPECT_GT(ui.outputsScrollArea->verticalScrollBar()->maximum(), 0);

    // Tab reaches every control, in reading order, and scrolls the focused one into sight.
    ui.volumeSlider->setFocus();
    QStringList order;
    for (int i = 0; i < 35 && QApplication::focusWidget(); ++i) {
        QWidget* focused = QApplication::focusWidget();
        order << (focused->accessibleName().isEmpty() ? focused->objectName()
                                                      : focused->accessibleName());
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(order.mid(0, 9).join(", "),
              "Volume of this output, Volume in percent, runningCheckBox, loginItemCheckBox, "
              "outputsFoldButton, Bluetooth: Stored volume, Bluetooth: Stored volume in percent, "
              "Bluetooth: Ceiling, USB Audio: Stored volume");
    EXPECT_EQ(order.mid(31).join(", "), "Other Output: Ceiling, Internal Speakers: Ceiling, "
                                        "Volume of this output, Volume in percent");
    ui.outputsScrollArea->verticalScrollBar()->setValue(0);
    row("othr").ceiling->setFocus();
    QTest::keyClick(row("othr").ceiling, Qt::Key_Tab);
    QWidget* last = row("ispk").ceiling;
    EXPECT_EQ(QApplication::focusWidget(), last);
    QRect inSight = ui.outputsScrollArea->viewport()->rect();
    EXPECT_TRUE(inSight.contains(
        QRect(last->mapTo(ui.outputsScrollArea->viewport(), QPoint()), last->size())));

    ui.outputsFoldButton->click();
    EXPECT_EQ(window.size(), folded);
}

TEST_F(SettingsWindow, TheModelIsReadAndWrittenByNameAndEveryWriteNotifies) {
    ConfigModel model;
    QSignalSpy volumes(&model, &ConfigModel::outputVolumeChanged);
    QSignalSpy locks(&model, &ConfigModel::isLockedChanged);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(model.setValueForKey(QVariant::fromValue(quint32(75)), "outputVolume"));
        EXPECT_TRUE(model.setValueForKey(true, "isLocked"));
    }
    EXPECT_EQ(volumes.count(), 2);
    EXPECT_EQ(locks.count(), 2);
    EXPECT_EQ(model.valueForKey("outputVolume"), QVariant::fromValue(quint32(75)));

    const std::pair<QVariant, const char*> refused[] = {
        {-1, "outputVolume"},     {QVariant::fromValue(qulonglong(1) << 32), "outputVolume"},
        {"loud", "outputVolume"}, {"x", "deviceIcon"},
        {"x", "objectName"},      {"x", "noSuchKey"}};
    for (const auto& [value, key] : refused) {
        EXPECT_FALSE(model.setValueForKey(value, key)) << key;
    }
    EXPECT_EQ(model.outputVolume(), 75u);
    EXPECT_EQ(volumes.count(), 2);
    EXPECT_FALSE(model.valueForKey("objectName").isValid());
    EXPECT_TRUE(model.setValueForKey(QVariant::fromValue(qulonglong(0xFFFFFFFFu)), "outputVolume"));
    EXPECT_EQ(model.outputVolume(), 0xFFFFFFFFu);
}

TEST_F(SettingsWindow, StartUpLaunchesTheHelperOnceAndTheSwitchesStopOrAddIt) {
    launch({}, "hdpn", 0.5f);
    // Launched again at once, as a quick second click would: it still runs once.
    AppUtil::launchApplication(SONVELA_APP_DIR "/Resources/Sonvela Helper.app");
    QCheckBox* running = ui.runningCheckBox;
    EXPECT_TRUE(running->isChecked());
    ASSERT_TRUE(eventually([&] { return processesNamed(home.path(), kHelper).size() == 1; }));

    // A second start finds it running and leaves it be; the one found by name is ours.
    SonvelaAppDelegate second;
    second.applicationDidFinishLaunching();
    EXPECT_TRUE(second.configModel()->isRunning());
    EXPECT_EQ(AppUtil::getApplicationPidsByName(kHelper),
              std::vector{std::to_string(processesNamed(home.path(), kHelper).at(0))});

    QSignalSpy stopping(&delegate, &SonvelaAppDelegate::helperStopping);
    running->click();
    EXPECT_TRUE(eventuallyShown([&] { return running->isEnabled(); }));
    EXPECT_EQ(stopping, oneStop);
    EXPECT_FALSE(running->isChecked());
    EXPECT_FALSE(helperRuns());
    running->click();
    EXPECT_TRUE(eventually(helperRuns));

    ui.loginItemCheckBox->click();
    EXPECT_TRUE(AppUtil::applicationIsLoginItem("Sonvela Helper.app"));
    // A later start finds the helper among the login items.
    SonvelaAppDelegate later;
    later.applicationDidFinishLaunching();
    EXPECT_TRUE(later.configModel()->isLoginItem());
    ui.loginItemCheckBox->click();
    EXPECT_FALSE(AppUtil::applicationIsLoginItem("Sonvela Helper.app"));
}

TEST_F(SettingsWindow, TheRunningSwitchWaitsForTheStopWithoutHoldingTheWindow) {
    // A helper that ignores the request to end, so the stop waits its whole time.
    std::string stubbornPath = home.path() + "/" + kHelper;
    std::filesystem::create_symlink("/bin/sleep", stubbornPath);
    sonvela::test::ChildProcess stubborn(
        {"/bin/sh", "-c", "trap '' TERM; exec \"$0\" 600", stubbornPath}, {},
        home.path() + "/stubborn.log");
    ASSERT_TRUE(eventually(helperRuns));
    launch({}, "hdpn", 0.5f);
    QSignalSpy stopping(&delegate, &SonvelaAppDelegate::helperStopping);

    QCheckBox* running = ui.runningCheckBox;
    running->click();
    // Back at once, while the stop still waits: the switch waits with it.
    EXPECT_FALSE(running->isEnabled());
    EXPECT_FALSE(running->isChecked());
    ui.volumeSpinBox->setValue(60);
    EXPECT_EQ(table().at("hdpn"), Value(0.6f));

    // Then it shows what the stop left: the helper still runs.
    EXPECT_TRUE(eventuallyShown([&] { return running->isEnabled(); }));
    EXPECT_EQ(stopping, oneStop);
    EXPECT_TRUE(running->isChecked());
    stubborn.kill();
}

TEST_F(SettingsWindow, StartingItAgainBringsTheWindowToTheFront) {
    audio.output("hdpn", 0.5f);
    std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen"};
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "PULSE_SERVER"}) {
        environment.push_back(std::string(name) + "=" + std::getenv(name));
    }
    auto startAgain = [&] {
        sonvela::test::ChildProcess again({SONVELA_APP_DIR "/bin/Sonvela"}, environment,
                                          home.path() + "/again.log");
        EXPECT_EQ(again.waitForExit(std::chrono::seconds(10)), 0)
            << readAll(home.path() + "/again.log");
        return eventuallyShown([&] { return QApplication::activeWindow() == &window; });
    };
    // Started from the login items the window waits for this; once open, others may cover it.
    setenv("SONVELA_LAUNCHED_HIDDEN", "1", 1);
    ASSERT_TRUE(settings.claim());
    settings.start();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(startAgain());
    QWidget other;
    other.show();
    ASSERT_TRUE(eventuallyShown([&] { return QApplication::activeWindow() == &other; }));
    EXPECT_TRUE(startAgain());
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
    EXPECT_EQ(finished, QList<QVariantList>({{23}}));
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(SettingsWindow, WithoutASoundServerItSaysSoUntilOneComesThenFollowsTheDefaultSink) {
    sonvela::test::PulseServer server(
        home.path() + "/server",
        {{"phones", "headphone", "Headphones"}, {"tv", "tv", "Television"}});
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    useBackend(makeBackend<PulseBackend>());
    writeTable({{"hdpn", Value(0.3f)}, {"hdmi", Value(0.8f)}});
    delegate.registerListenerForAudioDevice();
    delegate.checkAudioDeviceDataSource();
    QIcon appIcon(SONVELA_APP_DIR "/Resources/sonvela.icns");
    EXPECT_EQ(shown(), "No sound output — (off)");
    EXPECT_EQ(ui.deviceIconLabel->pixmap().toImage(), appIcon.pixmap(64, 64).toImage());

    server.start();
    EXPECT_TRUE(eventuallyShown([&] { return shown() == "Headphones 30 %"; })) << shown();
    QImage headphones = ui.deviceIconLabel->pixmap().toImage();
    server.switchDefault("tv");
    EXPECT_TRUE(eventuallyShown([&] { return shown() == "HDMI / TV 80 %"; })) << shown();
    EXPECT_NE(ui.deviceIconLabel->pixmap().toImage(), headphones);

    // While the window is open, a server that goes away is shown as gone, then back.
    window.show();
    server.kill();
    EXPECT_TRUE(eventuallyShown([&] { return shown() == "No sound output — (off)"; })) << shown();
    EXPECT_EQ(ui.deviceIconLabel->pixmap().toImage(), appIcon.pixmap(64, 64).toImage());
    server.start();
    EXPECT_TRUE(eventuallyShown([&] { return shown() == "Headphones 30 %"; })) << shown();
    // A window shown again looks at once.
    window.hide();
    server.kill();
    ASSERT_TRUE(eventually([] {
        return SoundController::sharedSoundController()->getAudioDeviceDataSourceName() ==
               std::string(4, '\0');
    }));
    EXPECT_EQ(shown(), "Headphones 30 %");
    window.show();
    EXPECT_EQ(shown(), "No sound output — (off)");
    delegate.unregisterListenerForAudioDevice();
}

// Every text of a window that a user sees or a screen reader says, by widget and property;
// numbers need no translation.
std::map<std::string, QString> shownTexts(QWidget* window) {
    std::map<std::string, QString> texts;
    auto add = [&](QWidget* widget, const char* what, const QString& text) {
        if (!text.isEmpty()) {
            QString where = widget->objectName().isEmpty() ? QString::number(quintptr(widget), 16)
                                                           : widget->objectName();
            texts[where.toStdString() + "." + what] = text;
        }
    };
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        add(widget, "title", widget->windowTitle());
        add(widget, "accessibleName", widget->accessibleName());
        add(widget, "accessibleDescription", widget->accessibleDescription());
        add(widget, "toolTip", widget->toolTip());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            add(widget, "text", label->text());
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            add(widget, "text", button->text());
        } else if (auto* box = qobject_cast<QSpinBox*>(widget)) {
            QString shown = box->text();
            if (std::any_of(shown.begin(), shown.end(), [](QChar c) { return c.isLetter(); })) {
                add(widget, "text", shown);
            }
            add(widget, "special", box->specialValueText());
            add(widget, "suffix", box->suffix());
        }
    }
    return texts;
}

// The interface file's texts, as the translators installed now give them.
std::map<std::string, QString> formTexts() {
    QWidget form;
    Ui::MainWindow ui;
    ui.setupUi(&form);
    return shownTexts(&form);
}

struct LanguageCase {
    const char* language;
    // Texts made as it runs that must be on show: names, composed texts, the held volume. (That
    // no other text is left in English, the test finds by itself.)
    std::vector<QString> shown;
    QString noOutput;
    // Qt's own texts, such as a message box's buttons.
    QString qtCancel;
    friend void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.language; }
};

class WindowLanguage : public testing::TestWithParam<LanguageCase> {
protected:
    void TearDown() override {
        Bundle::overrideMainForTesting(std::nullopt);
        for (auto* translator : qApp->findChildren<QTranslator*>()) {
            qApp->removeTranslator(translator);
            delete translator;
        }
    }

    // English texts that have a different translation: none of them may be on show.
    std::set<QString> englishOnly(const std::map<std::string, QString>& english,
                                  const std::map<std::string, QString>& translated) {
        std::set<QString> texts;
        for (const auto& [where, text] : english) {
            auto found = translated.find(where);
            if (found == translated.end() || found->second != text) {
                texts.insert(text);
            }
        }
        // The tables' texts: that each has its translation, TranslationsTest checks.
        for (std::string name : {"Localizable", "AudioDeviceName"}) {
            auto base =
                platform::plist::readDictionary(SONVELA_APP_DIR "/Resources/" + name + ".strings");
            for (const auto& [key, value] : base.value_or(Table{})) {
                if (Bundle::main().localizedString(key, "", name) != *value.get<std::string>()) {
                    texts.insert(QString::fromStdString(*value.get<std::string>()));
                }
            }
        }
        return texts;
    }

    sonvela::test::TempHome home;
    sonvela::test::SimulatedAudio audio;
};

TEST_P(WindowLanguage, TheWindowShowsEveryTextInTheUsersLanguage) {
    const LanguageCase& c = GetParam();
    sonvela::test::UserLanguage language(c.language);
    auto english = formTexts();
    Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    installTranslations(*qApp);
    auto translated = formTexts();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), c.qtCancel);
    std::set<QString> untranslated = englishOnly(english, translated);
    ASSERT_FALSE(untranslated.empty());

    SettingsApplication settings;
    settings.delegate().checkAudioDeviceDataSource();
    EXPECT_EQ(settings.window().ui().deviceNameLabel->text(), c.noOutput);
    // A ceiling that holds the stored volume, so that the window says so.
    sonvela::test::makeDirs(home.configHome() + "/Sonvela");
    for (auto [name, volume] : {std::pair("config", 0.9), std::pair("ceilings", 0.6)}) {
        ASSERT_TRUE(platform::plist::writeXmlAtomically(
            home.configHome() + "/Sonvela/" + name + ".plist", Table{{"hdpn", Value(volume)}}));
    }
    audio.output("hdpn", 0.5f);
    settings.delegate().checkAudioDeviceDataSource();
    settings.window().show();
    settings.window().ui().outputsFoldButton->setChecked(true);

    auto shown = shownTexts(&settings.window());
    std::set<QString> values;
    for (const auto& [where, text] : shown) {
        values.insert(text);
        EXPECT_FALSE(untranslated.contains(text))
            << where << " is in English: " << text.toStdString();
    }
    for (const auto& [where, text] : translated) {
        EXPECT_TRUE(values.contains(text)) << where << " not shown as " << text.toStdString();
    }
    for (const QString& text : c.shown) {
        EXPECT_TRUE(values.contains(text)) << text.toStdString();
    }
}

const LanguageCase kLanguageCases[] = {
    {"de",
     {"Kopfhörer", "Keine Obergrenze", "Kopfhörer: Gespeicherte Lautstärke",
      "Durch die Obergrenze bei 60 % gehalten"},
     "Keine Tonausgabe",
     "Abbrechen"},
    {"fr",
     {"Casque", "Sans plafond", "Micro-casque", "Casque : Volume enregistré",
      "Maintenu à 60 % par son plafond"},
     "Aucune sortie audio",
     "Annuler"},
};

INSTANTIATE_TEST_SUITE_P(Languages, WindowLanguage, testing::ValuesIn(kLanguageCases),
                         [](const auto& info) { return std::string(info.param.language); });

} // namespace

int main(int argc, char** argv) {
    // A short screen, as a laptop's at 125 % less its panel and then some: the unfolded window
    // does not fit.
    QTemporaryDir folder;
    QString screens = folder.filePath("screens.json");
    sonvela::test::writeAll(screens.toStdString(),
                            R"({"screens": [{"name": "short", "x": 0, "y": 0, "width": 1366,)"
                            R"( "height": 420, "logicalDpi": 96, "dpr": 1}]})");
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).toUtf8());
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
