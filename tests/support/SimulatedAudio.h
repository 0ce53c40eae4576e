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
        platform::alert::setPresenter([this](const std::string& message) {
            alerts.push_back(message);
        });
    }
    ~SimulatedAudio() {
        backend->waitUntilIdle();
        platform::alert::setPresenter(nullptr);
        platform::audio::useBackend(nullptr);
    }
    SimulatedAudio(const SimulatedAudio&) = delete;
    SimulatedAudio& operator=(const SimulatedAudio&) = delete;

    // A device of the given kind that is made the default output.
    platform::audio::AudioDeviceID output(const std::string& type, float volume,
                                          bool muted = false) {
        std::uint32_t code = 0;
        for (char c : type.substr(0, 4)) {
            code = (code << 8) | std::uint8_t(c);
        }
        auto id = backend->addDevice(code, volume, muted);
        backend->setDefaultDevice(id);
        backend->waitUntilIdle();
        return id;
    }

    std::shared_ptr<platform::audio::SimulatedBackend> backend;
    std::vector<std::string> alerts;
};

} // namespace sonvela::test
