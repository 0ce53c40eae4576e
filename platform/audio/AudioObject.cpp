#include "platform/audio/AudioObject.h"

#include "platform/audio/Backend.h"

#include <bit>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

namespace platform::audio {

namespace {

std::mutex backendMutex;
std::shared_ptr<Backend> installedBackend;

bool valid(const AudioObjectPropertyAddress* address, std::uint32_t qualifierSize) {
    // None of our properties takes a qualifier.
    return address != nullptr && qualifierSize == 0;
}

OSStatus statusOf(Result result) {
    switch (result) {
    case Result::Ok:
        return kAudioHardwareNoError;
    case Result::NoServer:
        return kAudioHardwareNotRunningError;
    case Result::NoSuchOutput:
        return kAudioHardwareBadObjectError;
    case Result::Refused:
        break;
    }
    return kAudioHardwareUnspecifiedError;
}

// What a 4-byte read of the property asks the backend for.
Result read(Backend& backend, AudioObjectID objectID, std::uint32_t selector,
            std::uint32_t& value) {
    if (objectID == kAudioObjectSystemObject) {
        if (selector == kAudioHardwarePropertyDefaultSink) {
            return backend.defaultSink(value);
        }
        if (selector != kAudioHardwarePropertyDefaultOutputDevice) {
            return Result::Refused;
        }
        return backend.defaultOutput(value);
    }
    if (selector == kAudioDevicePropertyDataSource) {
        return backend.outputType(objectID, value);
    }
    if (selector == kAudioHardwareServiceDeviceProperty_VirtualMasterVolume ||
        selector == kAudioDevicePropertyVolumeLevel) {
        float fraction = 0;
        Result result = selector == kAudioDevicePropertyVolumeLevel
                            ? backend.level(objectID, fraction)
                            : backend.volume(objectID, fraction);
        value = std::bit_cast<std::uint32_t>(fraction);
        return result;
    }
    if (selector == kAudioDevicePropertyMute) {
        bool muted = false;
        Result result = backend.muted(objectID, muted);
        value = muted ? 1 : 0;
        return result;
    }
    return Result::Refused;
}

Result write(Backend& backend, AudioObjectID objectID, std::uint32_t selector,
             std::uint32_t value) {
    if (objectID == kAudioObjectSystemObject) {
        return Result::Refused;
    }
    if (selector == kAudioHardwareServiceDeviceProperty_VirtualMasterVolume) {
        return backend.setVolume(objectID, std::bit_cast<float>(value));
    }
    if (selector == kAudioDevicePropertyVolumeLevel) {
        return backend.setLevel(objectID, std::bit_cast<float>(value));
    }
    if (selector == kAudioDevicePropertyMute) {
        return backend.setMuted(objectID, value != 0);
    }
    return Result::Refused;
}

} // namespace

void retire(Backend* backend) {
    if (backend->onNotificationThread()) {
        std::thread([backend] { delete backend; }).detach();
    } else {
        delete backend;
    }
}

void useBackend(std::shared_ptr<Backend> backend) {
    std::shared_ptr<Backend> previous;
    {
        std::lock_guard lock(backendMutex);
        previous = std::exchange(installedBackend, std::move(backend));
    }
    // The old backend goes away here, outside the lock: its listener may still be asking for
    // the current backend.
}

std::shared_ptr<Backend> currentBackend() {
    std::lock_guard lock(backendMutex);
    if (!installedBackend) {
        installedBackend = makeDefaultBackend();
    }
    return installedBackend;
}

void giveUpWaiting() {
    currentBackend()->giveUpWaiting();
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
    std::uint32_t value = 0;
    OSStatus status = statusOf(read(*currentBackend(), objectID, address->mSelector, value));
    if (status == kAudioHardwareNoError) {
        std::memcpy(outData, &value, sizeof value);
    }
    return status;
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
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    return statusOf(write(*currentBackend(), objectID, address->mSelector, value));
}

OSStatus setVolumeUnmuted(AudioDeviceID device, float volume) {
    return statusOf(currentBackend()->setVolumeUnmuted(device, volume));
}

OSStatus getDeviceDescription(AudioDeviceID device, std::string& description) {
    return statusOf(currentBackend()->description(device, description));
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
