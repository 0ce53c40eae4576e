#include "platform/audio/SimulatedBackend.h"

#include <bit>
#include <cstring>

namespace platform::audio {

namespace {

constexpr AudioObjectPropertyAddress kDefaultDeviceChanged{
    kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal,
    kAudioObjectPropertyElementMaster};
constexpr AudioObjectPropertyAddress kDataSourceChanged{kAudioDevicePropertyDataSource,
                                                        kAudioDevicePropertyScopeOutput,
                                                        kAudioObjectPropertyElementMaster};

} // namespace

AudioDeviceID SimulatedBackend::addDevice(std::uint32_t dataSource, float volume, bool muted) {
    std::lock_guard lock(mutex_);
    AudioDeviceID id = nextId_++;
    devices_[id] = Device{dataSource, volume, muted};
    return id;
}

void SimulatedBackend::removeDevice(AudioDeviceID device) {
    {
        std::lock_guard lock(mutex_);
        devices_.erase(device);
        if (defaultDevice_ == device) {
            defaultDevice_ = kAudioObjectUnknown;
        }
    }
    notifyListeners(kDefaultDeviceChanged);
}

void SimulatedBackend::setDefaultDevice(AudioDeviceID device) {
    {
        std::lock_guard lock(mutex_);
        defaultDevice_ = device;
    }
    notifyListeners(kDefaultDeviceChanged);
}

AudioDeviceID SimulatedBackend::defaultDevice() const {
    std::lock_guard lock(mutex_);
    return defaultDevice_;
}

void SimulatedBackend::setDataSource(AudioDeviceID device, std::uint32_t dataSource) {
    {
        std::lock_guard lock(mutex_);
        devices_[device].dataSource = dataSource;
    }
    notifyListeners(kDataSourceChanged);
}

void SimulatedBackend::setVolume(AudioDeviceID device, float volume) {
    std::lock_guard lock(mutex_);
    devices_[device].volume = volume;
}

void SimulatedBackend::setMuted(AudioDeviceID device, bool muted) {
    std::lock_guard lock(mutex_);
    devices_[device].muted = muted;
}

std::optional<SimulatedBackend::Device> SimulatedBackend::device(AudioDeviceID device) const {
    std::lock_guard lock(mutex_);
    auto found = devices_.find(device);
    if (found == devices_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SimulatedBackend::failCalls(std::uint32_t selector, Access access, OSStatus status) {
    std::lock_guard lock(mutex_);
    if (status == kAudioHardwareNoError) {
        failures_.erase({selector, access});
    } else {
        failures_[{selector, access}] = status;
    }
}

std::vector<SimulatedBackend::Write> SimulatedBackend::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void SimulatedBackend::clearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

void SimulatedBackend::notify() { notifyListeners(kDefaultDeviceChanged); }

OSStatus SimulatedBackend::failure(std::uint32_t selector, Access access) const {
    auto found = failures_.find({selector, access});
    return found == failures_.end() ? kAudioHardwareNoError : found->second;
}

OSStatus SimulatedBackend::getProperty(AudioObjectID objectID,
                                       const AudioObjectPropertyAddress& address,
                                       std::uint32_t& size, void* data) {
    std::lock_guard lock(mutex_);
    if (OSStatus status = failure(address.mSelector, Access::Get)) {
        return status;
    }
    std::uint32_t value = 0;
    OSStatus status = kAudioHardwareNoError;
    if (objectID == kAudioObjectSystemObject) {
        if (address.mSelector != kAudioHardwarePropertyDefaultOutputDevice) {
            return kAudioHardwareUnknownPropertyError;
        }
        if (defaultDevice_ == kAudioObjectUnknown) {
            return kAudioHardwareNotRunningError;
        }
        value = defaultDevice_;
    } else {
        status = readDevice(objectID, address.mSelector, value);
    }
    if (status == kAudioHardwareNoError) {
        std::memcpy(data, &value, sizeof value);
        size = sizeof value;
    }
    return status;
}

OSStatus SimulatedBackend::setProperty(AudioObjectID objectID,
                                       const AudioObjectPropertyAddress& address, std::uint32_t,
                                       const void* data) {
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    std::lock_guard lock(mutex_);
    OSStatus status = failure(address.mSelector, Access::Set);
    if (status == kAudioHardwareNoError) {
        status = writeDevice(objectID, address.mSelector, value);
    }
    writes_.push_back({objectID, address.mSelector, value, status});
    return status;
}

OSStatus SimulatedBackend::readDevice(AudioObjectID objectID, std::uint32_t selector,
                                      std::uint32_t& out) const {
    auto found = devices_.find(objectID);
    if (found == devices_.end()) {
        return kAudioHardwareBadObjectError;
    }
    const Device& d = found->second;
    if (selector == kAudioDevicePropertyDataSource) {
        out = d.dataSource;
    } else if (selector == kAudioHardwareServiceDeviceProperty_VirtualMasterVolume) {
        out = std::bit_cast<std::uint32_t>(d.volume);
    } else if (selector == kAudioDevicePropertyMute) {
        out = d.muted ? 1 : 0;
    } else {
        return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareNoError;
}

OSStatus SimulatedBackend::writeDevice(AudioObjectID objectID, std::uint32_t selector,
                                       std::uint32_t value) {
    auto found = devices_.find(objectID);
    if (found == devices_.end()) {
        return kAudioHardwareBadObjectError;
    }
    Device& d = found->second;
    if (selector == kAudioHardwareServiceDeviceProperty_VirtualMasterVolume) {
        d.volume = std::bit_cast<float>(value);
    } else if (selector == kAudioDevicePropertyMute) {
        d.muted = value != 0;
    } else {
        return kAudioHardwareIllegalOperationError;
    }
    return kAudioHardwareNoError;
}

} // namespace platform::audio
