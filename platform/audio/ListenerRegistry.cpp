#include "platform/audio/ListenerRegistry.h"

#include <algorithm>

namespace platform::audio {

namespace {

bool fieldMatches(std::uint32_t wanted, std::uint32_t changed, std::uint32_t wildcard) {
    return wanted == wildcard || changed == wildcard || wanted == changed;
}

bool addressMatches(const AudioObjectPropertyAddress& wanted,
                    const AudioObjectPropertyAddress& changed) {
    return fieldMatches(wanted.mSelector, changed.mSelector, kAudioObjectPropertySelectorWildcard) &&
           fieldMatches(wanted.mScope, changed.mScope, kAudioObjectPropertyScopeWildcard) &&
           fieldMatches(wanted.mElement, changed.mElement, kAudioObjectPropertyElementWildcard);
}

bool sameAddress(const AudioObjectPropertyAddress& a, const AudioObjectPropertyAddress& b) {
    return a.mSelector == b.mSelector && a.mScope == b.mScope && a.mElement == b.mElement;
}

} // namespace

ListenerRegistry::~ListenerRegistry() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        // A listener that drops the last reference to its backend must not wait for itself.
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

OSStatus ListenerRegistry::add(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                               AudioObjectPropertyListenerProc proc, void* clientData) {
    if (proc == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    if (objectID != kAudioObjectSystemObject) {
        return kAudioHardwareBadObjectError;
    }
    std::lock_guard lock(mutex_);
    registrations_.push_back({objectID, address, proc, clientData});
    return kAudioHardwareNoError;
}

OSStatus ListenerRegistry::remove(AudioObjectID objectID,
                                  const AudioObjectPropertyAddress& address,
                                  AudioObjectPropertyListenerProc proc, void* clientData) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(registrations_.begin(), registrations_.end(), [&](const auto& r) {
        return r.objectID == objectID && sameAddress(r.address, address) && r.proc == proc &&
               r.clientData == clientData;
    });
    if (found == registrations_.end()) {
        return kAudioHardwareIllegalOperationError;
    }
    registrations_.erase(found);
    return kAudioHardwareNoError;
}

void ListenerRegistry::notify(const AudioObjectPropertyAddress& changed) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        pending_.push_back(changed);
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
    }
    wake_.notify_one();
}

void ListenerRegistry::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_.empty() && !delivering_; });
}

std::size_t ListenerRegistry::count() const {
    std::lock_guard lock(mutex_);
    return registrations_.size();
}

void ListenerRegistry::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) {
            return;
        }
        AudioObjectPropertyAddress changed = pending_.front();
        pending_.pop_front();
        delivering_ = true;
        lock.unlock();
        deliver(changed);
        lock.lock();
        delivering_ = false;
        if (pending_.empty()) {
            idle_.notify_all();
        }
    }
}

void ListenerRegistry::deliver(const AudioObjectPropertyAddress& changed) {
    std::vector<Registration> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Registration& r : registrations_) {
            if (addressMatches(r.address, changed)) {
                targets.push_back(r);
            }
        }
    }
    for (const Registration& r : targets) {
        r.proc(kAudioObjectSystemObject, 1, &changed, r.clientData);
    }
}

} // namespace platform::audio
