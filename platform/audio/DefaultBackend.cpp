#include "platform/audio/PulseBackend.h"

namespace platform::audio {

std::shared_ptr<Backend> makeDefaultBackend() { return std::make_shared<PulseBackend>(); }

} // namespace platform::audio
