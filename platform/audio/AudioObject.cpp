#include "platform/audio/AudioObject.h"

#include "platform/audio/Backend.h"

#include <mutex>
#include <utility>

namespace platform::audio {

namespace {

std::mutex backendMutex;
std::shared_ptr<Backend> installedBackend;

bool valid(const AudioObjectPropertyAddress* address, std::uint32_t qualifierSize) {
    // None of our properties takes a qualifier.
    return address != nullptr && qualifierSize == 0;
}

} // namespace

void useBackend(std::shared_ptr<Backend> backend) {
    std::shared_ptr<Backend> previous;
    {
        std::lock_guard lock(backendMutex);
        previous = std::exchange(installedBackend, std::move(backend));
    }
    // The old backend goes away here, outside the lock: its notification thread may still be
    // finishing a listener that asks for the current backend.
}

std::shared_ptr<Backend> currentBackend() {
    std::lock_guard lock(backendMutex);
    if (!installedBackend) {
        installedBackend = makeDefaultBackend();
    }
    return installedBackend;
}

OSStatus getPropertyData(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                         std::uint32_t qualifierSize, const void*, std::uint32_t* ioDataSize,
                         void* outData) {
    if (!valid(address, qualifierSize) || ioDataSize == nullptr || outData == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    if (*ioDataSize != 4) {
        return kAudioHardwareBadPropertySizeError;
    }
    return currentBackend()->getProperty(objectID, *address, *ioDataSize, outData);
}

OSStatus setPropertyData(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                         std::uint32_t qualifierSize, const void*, std::uint32_t dataSize,
                         const void* data) {
    if (!valid(address, qualifierSize) || data == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    if (dataSize != 4) {
        return kAudioHardwareBadPropertySizeError;
    }
    return currentBackend()->setProperty(objectID, *address, dataSize, data);
}

OSStatus addPropertyListener(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                             AudioObjectPropertyListenerProc listener, void* clientData) {
    if (address == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    return currentBackend()->listeners().add(objectID, *address, listener, clientData);
}

OSStatus removePropertyListener(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                                AudioObjectPropertyListenerProc listener, void* clientData) {
    if (address == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    return currentBackend()->listeners().remove(objectID, *address, listener, clientData);
}

} // namespace platform::audio
