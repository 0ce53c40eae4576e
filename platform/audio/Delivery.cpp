#include "platform/audio/Delivery.h"

#include <utility>

namespace platform::audio {

std::optional<AudioDeviceID> Delivery::Source::defaultOutputToActOn() {
    return delivery_ != nullptr ? delivery_->defaultOutput() : liveDefaultOutput();
}

Delivery::Delivery(Source& source) : source_(source) {
    source_.markTold();
    source_.delivery_ = this;
}

Delivery::~Delivery() {
    source_.delivery_ = nullptr;
    for (const Query& query : std::exchange(deferredQueries_, {})) {
        source_.sendQuery(query);
    }
}

std::optional<AudioDeviceID> Delivery::defaultOutput() {
    if (!pinned_ || !source_.hasOutput(*pinned_)) {
        pinned_ = source_.liveDefaultOutput();
    }
    return pinned_;
}

} // namespace platform::audio
