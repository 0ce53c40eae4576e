// Renders the settings window as a user sees it with headphones stored at 75 % and held at
// 60 % by their ceiling, every output unfolded, to a PNG for the README. Runs on a simulated output
// with tables in a folder of its own, so it needs no sound server and changes none of the user's
// files.
#include "app/MainWindow.h"
#include "app/SonvelaAppDelegate.h"
#include "platform/audio/SimulatedBackend.h"
#include "shared/AppUtil.h"
#include "shared/CeilingTable.h"
#include "shared/SonvelaNames.h"
#include "shared/VolumeTable.h"

#include "ui_MainWindow.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

using namespace platform::audio;

int main(int argc, char** argv) {
    useSonvelaNames();
    if (argc != 2) {
        std::fprintf(stderr, "usage: sonvela_screenshot OUTPUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir config;
    if (!config.isValid()) {
        return 1;
    }
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    VolumeTable::ensureUserTable();
    VolumeTable::storeVolume(AppUtil::getUserConfigFilePath(), "hdpn", 0.75f);
    auto ceilings = CeilingTable::getUserCeilingsFilePath();
    CeilingTable::storeCeiling(ceilings, "hdpn", 0.6f);
    CeilingTable::storeCeiling(ceilings, "hdst", 0.8f);

    auto backend = makeBackend<SimulatedBackend>();
    backend->setDefaultDevice(backend->addDevice(fourCharCode("hdpn"), 0.75f));
    useBackend(backend);

    SonvelaAppDelegate delegate;
    MainWindow window;
    delegate.setWindow(&window);
    delegate.awakeFromNib();
    window.bind(delegate.configModel());
    // The refresh alone: no helper is started.
    delegate.checkAudioDeviceDataSource();
    delegate.configModel()->setValueForKey(true, ConfigModel::kIsRunning);
    delegate.configModel()->setValueForKey(true, ConfigModel::kIsLoginItem);
    window.show();
    window.ui().outputsFoldButton->setChecked(true);
    QApplication::processEvents();
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
