#include "platform/audio/SimulatedBackend.h"

namespace platform::audio {

// Like the real backend: whoever calls, the call runs on the backend's thread.
template <typename Work> Result SimulatedBackend::onThread(Work work) {
    Result result = Result::NoServer;
    thread_.call([&] { result = work(); });
    return result;
}

// Reads and writes alike: a failing call changes nothing.
template <typename Access>
Result SimulatedBackend::access(AudioDeviceID id, Call call, Access access) {
    return onThread([&] {
        changeComing(call);
        std::unique_lock lock(mutex_);
        if (hanging_.contains(call)) {
            signal_.wait(lock, [this] { return givenUp_; });
            return Result::Refused;
        }
        auto found = devices_.find(id);
        Result result = failing_.contains(call)   ? Result::Refused
                        : found == devices_.end() ? Result::NoSuchOutput
                                                  : Result::Ok;
        if (result == Result::Ok) {
            access(found->second);
        }
        return result;
    });
}

SimulatedBackend::SimulatedBackend() {
    thread_.start();
}

SimulatedBackend::~SimulatedBackend() {
    thread_.stop();
}

AudioDeviceID SimulatedBackend::addDevice(std::uint32_t outputType, float volume, bool muted) {
    std::lock_guard lock(mutex_);
    AudioDeviceID id = nextId_++;
    devices_[id] = Device{outputType, volume, muted, {}};
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

void SimulatedBackend::setSinkInFront(AudioDeviceID device) {
    {
        std::lock_guard lock(mutex_);
        sinkInFront_ = device;
    }
    notify();
}

void SimulatedBackend::setDescription(AudioDeviceID device, const std::string& description) {
    std::lock_guard lock(mutex_);
    devices_[device].description = description;
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
    changeMade({device, kVolumeChanged});
}

void SimulatedBackend::changeMuted(AudioDeviceID device, bool muted) {
    std::lock_guard lock(mutex_);
    devices_[device].muted = muted;
}

void SimulatedBackend::duringNext(Call call, std::function<void()> change) {
    std::lock_guard lock(mutex_);
    coming_[call] = std::move(change);
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
    signal_.notify_all();
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
    changeMade({kAudioObjectSystemObject, kDefaultOutputChanged});
}

void SimulatedBackend::changeMade(const Change& change) {
    {
        std::lock_guard lock(mutex_);
        changes_.push_back(change);
        woken_ = true;
    }
    signal_.notify_all();
}

void SimulatedBackend::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    signal_.wait(lock, [this] { return changes_.empty() && !delivering_; });
}

void SimulatedBackend::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    signal_.notify_all();
}

// Delivers every change made so far, then waits for the next one or for work handed over.
void SimulatedBackend::turn() {
    std::unique_lock lock(mutex_);
    while (!changes_.empty()) {
        Change change = changes_.front();
        changes_.pop_front();
        delivering_ = true;
        lock.unlock();
        std::optional<Delivery> delivery;
        if (change.objectID == kAudioObjectSystemObject) {
            delivery.emplace(static_cast<Delivery::Source&>(*this));
        }
        listeners().deliver(change.objectID, change.address);
        lock.lock();
        delivering_ = false;
        signal_.notify_all();
    }
    signal_.wait(lock, [this] { return woken_; });
    woken_ = false;
}

std::optional<AudioDeviceID> SimulatedBackend::liveDefaultOutput() const {
    std::lock_guard lock(mutex_);
    return defaultDevice_ == kAudioObjectUnknown ? std::nullopt : std::optional(defaultDevice_);
}

bool SimulatedBackend::hasOutput(AudioDeviceID device) const {
    std::lock_guard lock(mutex_);
    return devices_.contains(device);
}

Result SimulatedBackend::defaultOutput(AudioDeviceID& device) {
    return onThread([&] {
        changeComing(Call::DefaultOutput);
        bool failing = false;
        {
            std::lock_guard lock(mutex_);
            failing = failing_.contains(Call::DefaultOutput);
        }
        auto output = failing ? std::nullopt : defaultOutputToActOn();
        if (output) {
            device = *output;
        }
        return output ? Result::Ok : Result::NoServer;
    });
}

Result SimulatedBackend::defaultSink(AudioDeviceID& device) {
    AudioDeviceID front = kAudioObjectUnknown;
    {
        std::lock_guard lock(mutex_);
        front = sinkInFront_;
    }
    if (front == kAudioObjectUnknown) {
        return defaultOutput(device);
    }
    device = front;
    return Result::Ok;
}

Result SimulatedBackend::description(AudioDeviceID device, std::string& text) {
    return access(device, Call::Description, [&](Device& d) { text = d.description; });
}

Result SimulatedBackend::outputType(AudioDeviceID device, std::uint32_t& code) {
    return access(device, Call::OutputType, [&](Device& d) { code = d.outputType; });
}

Result SimulatedBackend::volume(AudioDeviceID device, float& fraction) {
    return access(device, Call::Volume, [&](Device& d) { fraction = d.volume; });
}

Result SimulatedBackend::muted(AudioDeviceID device, bool& muted) {
    return access(device, Call::Muted, [&](Device& d) { muted = d.muted; });
}

Result SimulatedBackend::setVolume(AudioDeviceID device, float fraction) {
    return onThread([&] {
        Result result = access(device, Call::SetVolume, [&](Device& d) { d.volume = fraction; });
        record({device, Call::SetVolume, fraction, false, result == Result::Ok});
        return result;
    });
}

Result SimulatedBackend::setMuted(AudioDeviceID device, bool muted) {
    return onThread([&] {
        Result result = access(device, Call::SetMuted, [&](Device& d) { d.muted = muted; });
        record({device, Call::SetMuted, 0.0f, muted, result == Result::Ok});
        return result;
    });
}

void SimulatedBackend::record(const Write& write) {
    std::lock_guard lock(mutex_);
    writes_.push_back(write);
}

void SimulatedBackend::changeComing(Call call) {
    std::function<void()> change;
    {
        std::lock_guard lock(mutex_);
        if (auto found = coming_.find(call); found != coming_.end()) {
            change = std::move(found->second);
            coming_.erase(found);
        }
    }
    if (change) {
        change();
    }
}

} // namespace platform::audio
