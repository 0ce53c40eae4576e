// Renders the settings window as a user sees it with headphones at 75 % to a PNG, for the
// README. Runs on a simulated output, so it needs no sound server and changes no files.
#include "app/MainWindow.h"
#include "app/SonvelaAppDelegate.h"
#include "platform/audio/SimulatedBackend.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>

using namespace platform::audio;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sonvela_screenshot OUTPUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    auto backend = makeBackend<SimulatedBackend>();
    backend->setDefaultDevice(backend->addDevice(fourCharCode("hdpn"), 0.75f));
    useBackend(backend);

    SonvelaAppDelegate delegate;
    MainWindow window;
    delegate.setWindow(&window);
    delegate.awakeFromNib();
    window.bind(delegate.configModel());
    // The refresh alone: no table, so the hardware's 75 % shows, and no helper is started.
    delegate.checkAudioDeviceDataSource();
    delegate.configModel()->setValueForKey(true, ConfigModel::kIsRunning);
    delegate.configModel()->setValueForKey(true, ConfigModel::kIsLoginItem);
    window.show();
    QApplication::processEvents();
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
