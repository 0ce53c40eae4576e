#pragma once

#include "platform/audio/AudioObject.h"

#include <mutex>
#include <vector>

namespace platform::audio {

// The registered property listeners of the system object. Its backend decides on which thread
// and when they are called.
class ListenerRegistry {
public:
    OSStatus add(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                 AudioObjectPropertyListenerProc proc, void* clientData);
    OSStatus remove(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                    AudioObjectPropertyListenerProc proc, void* clientData);

    // Calls, on the caller's thread, every listener whose address matches the change.
    void deliver(const AudioObjectPropertyAddress& changed);

private:
    struct Registration {
        AudioObjectID objectID;
        AudioObjectPropertyAddress address;
        AudioObjectPropertyListenerProc proc;
        void* clientData;
    };

    std::mutex mutex_;
    std::vector<Registration> registrations_;
};

} // namespace platform::audio
