#include "platform/audio/ListenerRegistry.h"

#include <algorithm>

namespace platform::audio {

namespace {

bool fieldMatches(std::uint32_t wanted, std::uint32_t changed, std::uint32_t wildcard) {
    return wanted == wildcard || changed == wildcard || wanted == changed;
}

bool addressMatches(const AudioObjectPropertyAddress& wanted,
                    const AudioObjectPropertyAddress& changed) {
    return fieldMatches(wanted.mSelector, changed.mSelector,
                        kAudioObjectPropertySelectorWildcard) &&
           fieldMatches(wanted.mScope, changed.mScope, kAudioObjectPropertyScopeWildcard) &&
           fieldMatches(wanted.mElement, changed.mElement, kAudioObjectPropertyElementWildcard);
}

bool sameAddress(const AudioObjectPropertyAddress& a, const AudioObjectPropertyAddress& b) {
    return a.mSelector == b.mSelector && a.mScope == b.mScope && a.mElement == b.mElement;
}

} // namespace

OSStatus ListenerRegistry::add(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                               AudioObjectPropertyListenerProc proc, void* clientData) {
    if (proc == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    if (objectID == kAudioObjectUnknown) {
        return kAudioHardwareBadObjectError;
    }
    std::lock_guard lock(mutex_);
    registrations_.push_back({objectID, address, proc, clientData});
    return kAudioHardwareNoError;
}

OSStatus ListenerRegistry::remove(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
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

void ListenerRegistry::deliver(AudioObjectID objectID, const AudioObjectPropertyAddress& changed) {
    std::vector<Registration> targets;
    {
        std::lock_guard lock(mutex_);
        std::copy_if(registrations_.begin(), registrations_.end(), std::back_inserter(targets),
                     [&](const Registration& r) {
                         return r.objectID == objectID && addressMatches(r.address, changed);
                     });
    }
    // Outside the lock: a listener may add or remove listeners.
    for (const Registration& r : targets) {
        r.proc(objectID, 1, &changed, r.clientData);
    }
}

} // namespace platform::audio
