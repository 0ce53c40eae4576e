#include "platform/audio/SimulatedBackend.h"

namespace platform::audio {

SimulatedBackend::SimulatedBackend() : thread_([this] { run(); }) {}

SimulatedBackend::~SimulatedBackend() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

AudioDeviceID SimulatedBackend::addDevice(std::uint32_t outputType, float volume, bool muted) {
    std::lock_guard lock(mutex_);
    AudioDeviceID id = nextId_++;
    devices_[id] = Device{outputType, volume, muted};
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
    notify();
}

void SimulatedBackend::setDefaultDevice(AudioDeviceID device) {
    {
        std::lock_guard lock(mutex_);
        defaultDevice_ = device;
    }
    notify();
}

void SimulatedBackend::changeOutputType(AudioDeviceID device, std::uint32_t outputType) {
    {
        std::lock_guard lock(mutex_);
        devices_[device].outputType = outputType;
    }
    notify();
}

void SimulatedBackend::changeVolume(AudioDeviceID device, float volume) {
    {
        std::lock_guard lock(mutex_);
        devices_[device].volume = volume;
    }
    deliverLater(device, kVolumeChanged);
}

void SimulatedBackend::changeMuted(AudioDeviceID device, bool muted) {
    std::lock_guard lock(mutex_);
    devices_[device].muted = muted;
}

std::optional<SimulatedBackend::Device> SimulatedBackend::device(AudioDeviceID device) const {
    std::lock_guard lock(mutex_);
    auto found = devices_.find(device);
    return found == devices_.end() ? std::nullopt : std::optional(found->second);
}

void SimulatedBackend::fail(Call call, bool failing) {
    std::lock_guard lock(mutex_);
    if (failing) {
        failing_.insert(call);
    } else {
        failing_.erase(call);
    }
}

void SimulatedBackend::hang(Call call) {
    std::lock_guard lock(mutex_);
    hanging_.insert(call);
}

void SimulatedBackend::giveUpWaiting() {
    {
        std::lock_guard lock(mutex_);
        givenUp_ = true;
    }
    wake_.notify_all();
}

std::vector<SimulatedBackend::Write> SimulatedBackend::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void SimulatedBackend::clearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

void SimulatedBackend::notify() {
    deliverLater(kAudioObjectSystemObject, kDefaultOutputChanged);
}

void SimulatedBackend::deliverLater(AudioObjectID objectID,
                                    const AudioObjectPropertyAddress& changed) {
    {
        std::lock_guard lock(mutex_);
        due_.emplace_back(objectID, changed);
    }
    wake_.notify_all();
}

void SimulatedBackend::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return due_.empty() && !delivering_; });
}

void SimulatedBackend::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !due_.empty(); });
        if (stopping_) {
            return;
        }
        auto [objectID, changed] = due_.front();
        due_.pop_front();
        delivering_ = true;
        lock.unlock();
        listeners().deliver(objectID, changed);
        lock.lock();
        delivering_ = false;
        wake_.notify_all();
    }
}

bool SimulatedBackend::onNotificationThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

Result SimulatedBackend::defaultOutput(AudioDeviceID& device) {
    std::lock_guard lock(mutex_);
    if (failing_.contains(Call::DefaultOutput) || defaultDevice_ == kAudioObjectUnknown) {
        return Result::NoServer;
    }
    device = defaultDevice_;
    return Result::Ok;
}

Result SimulatedBackend::outputType(AudioDeviceID device, std::uint32_t& code) {
    return change(device, Call::OutputType, [&](Device& d) { code = d.outputType; });
}

Result SimulatedBackend::volume(AudioDeviceID device, float& fraction) {
    return change(device, Call::Volume, [&](Device& d) { fraction = d.volume; });
}

Result SimulatedBackend::muted(AudioDeviceID device, bool& muted) {
    return change(device, Call::Muted, [&](Device& d) { muted = d.muted; });
}

Result SimulatedBackend::setVolume(AudioDeviceID device, float fraction) {
    Result result = change(device, Call::SetVolume, [&](Device& d) { d.volume = fraction; });
    record({device, Call::SetVolume, fraction, false, result == Result::Ok});
    return result;
}

Result SimulatedBackend::setMuted(AudioDeviceID device, bool muted) {
    Result result = change(device, Call::SetMuted, [&](Device& d) { d.muted = muted; });
    record({device, Call::SetMuted, 0.0f, muted, result == Result::Ok});
    return result;
}

void SimulatedBackend::record(const Write& write) {
    std::lock_guard lock(mutex_);
    writes_.push_back(write);
}

// Reads and writes alike: a failing call changes nothing.
template <typename Change>
Result SimulatedBackend::change(AudioDeviceID id, Call call, Change change) {
    std::unique_lock lock(mutex_);
    if (hanging_.contains(call)) {
        wake_.wait(lock, [this] { return givenUp_; });
        return Result::Refused;
    }
    auto found = devices_.find(id);
    Result result = failing_.contains(call)   ? Result::Refused
                    : found == devices_.end() ? Result::NoSuchOutput
                                              : Result::Ok;
    if (result == Result::Ok) {
        change(found->second);
    }
    return result;
}

} // namespace platform::audio
