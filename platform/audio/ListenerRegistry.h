#pragma once

#include "platform/audio/AudioObject.h"

#include <mutex>
#include <vector>

namespace platform::audio {

// The registered property listeners: of the system object (the default output changed), and of
// devices (a device's volume changed). Their backend decides on which thread and when they are
// called.
class ListenerRegistry {
public:
    OSStatus add(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                 AudioObjectPropertyListenerProc proc, void* clientData);
    OSStatus remove(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                    AudioObjectPropertyListenerProc proc, void* clientData);

    // Calls, on the caller's thread, every listener of the object whose address matches the
    // change.
    void deliver(AudioObjectID objectID, const AudioObjectPropertyAddress& changed);

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
