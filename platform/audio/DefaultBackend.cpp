#include "platform/audio/PulseBackend.h"

namespace platform::audio {

std::shared_ptr<Backend> makeDefaultBackend() {
    return makeBackend<PulseBackend>();
}

} // namespace platform::audio
