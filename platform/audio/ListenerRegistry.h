#pragma once

#include "platform/audio/AudioObject.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::audio {

// Keeps the registered property listeners and calls them, one event after the other, on a
// notification thread of its own.
class ListenerRegistry {
public:
    ListenerRegistry() = default;
    ~ListenerRegistry();
    ListenerRegistry(const ListenerRegistry&) = delete;
    ListenerRegistry& operator=(const ListenerRegistry&) = delete;

    OSStatus add(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                 AudioObjectPropertyListenerProc proc, void* clientData);
    OSStatus remove(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                    AudioObjectPropertyListenerProc proc, void* clientData);

    // Queues a change of the system object; listeners whose address matches are called.
    void notify(const AudioObjectPropertyAddress& changed);

    // Blocks until every queued event has been delivered.
    void waitUntilIdle();

    std::size_t count() const;

private:
    struct Registration {
        AudioObjectID objectID;
        AudioObjectPropertyAddress address;
        AudioObjectPropertyListenerProc proc;
        void* clientData;
    };

    void run();
    void deliver(const AudioObjectPropertyAddress& changed);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<Registration> registrations_;
    std::deque<AudioObjectPropertyAddress> pending_;
    bool delivering_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace platform::audio
