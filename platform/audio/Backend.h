#pragma once

#include "platform/audio/AudioObject.h"
#include "platform/audio/ListenerRegistry.h"

#include <memory>

namespace platform::audio {

// A source of audio devices. Implementations answer the 4-byte properties of the system object
// and of devices, and call notifyListeners() after events that may change the default output
// device or its kind, never after a volume or mute change.
class Backend {
public:
    virtual ~Backend() = default;

    virtual OSStatus getProperty(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& size, void* data) = 0;
    virtual OSStatus setProperty(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                                 std::uint32_t size, const void* data) = 0;

    ListenerRegistry& listeners() { return listeners_; }

protected:
    void notifyListeners(const AudioObjectPropertyAddress& changed) { listeners_.notify(changed); }

private:
    ListenerRegistry listeners_;
};

// The backend a program gets when nobody installed one.
std::shared_ptr<Backend> makeDefaultBackend();

} // namespace platform::audio
