#include "platform/audio/SimulatedBackend.h"

namespace platform::audio {

// Until a sound server backend exists the programs run on one simulated output: the internal
// speakers at half volume.
std::shared_ptr<Backend> makeDefaultBackend() {
    auto backend = std::make_shared<SimulatedBackend>();
    backend->setDefaultDevice(backend->addDevice(fourCharCode("ispk"), 0.5f));
    return backend;
}

} // namespace platform::audio
