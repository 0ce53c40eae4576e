#pragma once

#include "platform/alert/Alert.h"
#include "platform/audio/SimulatedBackend.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace sonvela::test {

// Installs a fresh simulated sound system for one test, with an alert presenter that counts.
class SimulatedAudio {
public:
    SimulatedAudio() : backend(platform::audio::makeBackend<platform::audio::SimulatedBackend>()) {
        platform::audio::useBackend(backend);
        platform::alert::setPresenter(
            [this](const std::string& message) { alerts.push_back(message); });
    }
    ~SimulatedAudio() {
        backend->waitUntilIdle();
        platform::alert::setPresenter(nullptr);
        platform::audio::useBackend(nullptr);
    }
    SimulatedAudio(const SimulatedAudio&) = delete;
    SimulatedAudio& operator=(const SimulatedAudio&) = delete;

    // A device of the given kind ("hdpn") that is made the default output.
    platform::audio::AudioDeviceID output(const std::string& type, float volume,
                                          bool muted = false) {
        auto id = backend->addDevice(platform::audio::fourCharCode(type), volume, muted);
        backend->setDefaultDevice(id);
        backend->waitUntilIdle();
        return id;
    }

    std::shared_ptr<platform::audio::SimulatedBackend> backend;
    std::vector<std::string> alerts;
};

} // namespace sonvela::test
