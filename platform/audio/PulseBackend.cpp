#include "platform/audio/PulseBackend.h"

#include "platform/audio/PulseMapping.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <pulse/error.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

namespace platform::audio {

namespace {

constexpr int kFirstRetryMs = 50;
constexpr int kLongestRetryMs = 2000;
constexpr int kSettleMs = 1000;

constexpr AudioObjectPropertyAddress kOutputChanged{kAudioHardwarePropertyDefaultOutputDevice,
                                                    kAudioObjectPropertyScopeGlobal,
                                                    kAudioObjectPropertyElementMaster};

constexpr AudioObjectPropertyAddress kEveryProperty{kAudioObjectPropertySelectorWildcard,
                                                    kAudioObjectPropertyScopeWildcard,
                                                    kAudioObjectPropertyElementWildcard};

// The sink a listener acts on, kept for the notification thread only: see deliveryStarts().
struct Pin {
    const void* backend = nullptr;
    std::optional<std::uint32_t> sink;
};
thread_local Pin pin;

struct Reply {
    pa_threaded_mainloop* loop;
    bool& succeeded;
};

void successCallback(pa_context*, int success, void* userdata) {
    auto* reply = static_cast<Reply*>(userdata);
    reply->succeeded = success != 0;
    pa_threaded_mainloop_signal(reply->loop, 0);
}

} // namespace

void PulseBackend::LoopDeleter::operator()(pa_threaded_mainloop* loop) const {
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

void PulseBackend::ContextDeleter::operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

PulseBackend::PulseBackend() : loop_(pa_threaded_mainloop_new()) {
    // Registered before any program's listener, so it runs first in every delivery.
    listeners().add(kAudioObjectSystemObject, kEveryProperty, deliveryStarts, this);
    pa_threaded_mainloop_set_name(loop_.get(), "pulse-loop");
    pa_threaded_mainloop_start(loop_.get());
    pa_threaded_mainloop_lock(loop_.get());
    connect();
    // Give the first attempt its answer, so that a program's first restore sees the server.
    while (!firstAttemptDone_) {
        pa_threaded_mainloop_wait(loop_.get());
    }
    pa_threaded_mainloop_unlock(loop_.get());
}

PulseBackend::~PulseBackend() {
    pa_threaded_mainloop_lock(loop_.get());
    stopping_ = true;
    stopTimer(reconnectTimer_);
    stopTimer(settleTimer_);
    context_.reset();
    pa_threaded_mainloop_unlock(loop_.get());
    pa_threaded_mainloop_stop(loop_.get());
}

void PulseBackend::connect() {
    context_.reset(pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "Sonvela"));
    pa_context_set_state_callback(context_.get(), contextStateCallback, this);
    pa_context_set_subscribe_callback(context_.get(), subscribeCallback, this);
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        onConnectionLost();
    }
}

void PulseBackend::contextStateCallback(pa_context*, void* self) {
    static_cast<PulseBackend*>(self)->onContextState();
}

void PulseBackend::onContextState() {
    switch (pa_context_get_state(context_.get())) {
    case PA_CONTEXT_READY:
        onReady();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        onConnectionLost();
        break;
    default:
        break;
    }
    // Callers waiting for an answer look again: it will not come from a dead connection.
    pa_threaded_mainloop_signal(loop_.get(), 0);
}

void PulseBackend::onReady() {
    if (lossLogged_) {
        log::nslog("connected to the sound server");
    }
    lossLogged_ = false;
    ready_ = true;
    backoffMs_ = 0;
    // Back after a loss: listeners hear of it even when the same output is still the default.
    forceAnnounce_ = true;
    auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
    startQuery(pa_context_subscribe(context_.get(), mask, nullptr, nullptr),
               "pa_context_subscribe()");
    queryServer();
    ++pending_;
    if (!startQuery(pa_context_get_sink_info_list(context_.get(), sinkListCallback, this),
                    "pa_context_get_sink_info_list()")) {
        --pending_;
    }
    // PipeWire can miss a default switch made just as a client connects: look once more when
    // the connection has settled. One timer, then none while connected.
    stopTimer(settleTimer_);
    settleTimer_ = startTimer(kSettleMs, settleCallback);
}

void PulseBackend::onConnectionLost() {
    // Once per loss: the retries go on quietly until the server is back.
    if (!lossLogged_) {
        log::nslog("pa_context_connect() failed: %s",
                   pa_strerror(pa_context_errno(context_.get())));
        lossLogged_ = true;
    }
    ready_ = false;
    firstAttemptDone_ = true;
    pending_ = 0;
    sinks_.clear();
    defaultSinkName_.clear();
    seen_.reset();
    stopTimer(settleTimer_);
    if (stopping_ || reconnectTimer_ != nullptr) {
        return;
    }
    backoffMs_ = backoffMs_ == 0 ? kFirstRetryMs : std::min(backoffMs_ * 2, kLongestRetryMs);
    reconnectTimer_ = startTimer(backoffMs_, reconnectCallback);
}

void PulseBackend::reconnectCallback(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                     void* self) {
    auto* backend = static_cast<PulseBackend*>(self);
    api->time_free(event);
    backend->reconnectTimer_ = nullptr;
    if (!backend->stopping_) {
        // The old context is dropped here, outside its own callbacks.
        backend->connect();
    }
}

void PulseBackend::subscribeCallback(pa_context*, pa_subscription_event_type_t type,
                                     std::uint32_t index, void* self) {
    static_cast<PulseBackend*>(self)->onEvent(type, index);
}

void PulseBackend::onEvent(pa_subscription_event_type_t type, std::uint32_t index) {
    auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        queryServer();
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK) {
        return;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        sinks_.erase(index);
        noteOutput();
        forceAnnounce_ = true;
        announce();
        return;
    }
    // A sink's event does not say what changed: fetch it and compare. Volume and mute changes
    // end up here too and are dropped by the comparison, so our own writes start nothing.
    forceAnnounce_ = forceAnnounce_ || kind == PA_SUBSCRIPTION_EVENT_NEW;
    querySink(index);
}

bool PulseBackend::startQuery(pa_operation* operation, const char* function) {
    if (operation == nullptr) {
        log::nslog("%s failed: %s", function, pa_strerror(pa_context_errno(context_.get())));
        return false;
    }
    pa_operation_unref(operation);
    return true;
}

void PulseBackend::queryServer() {
    ++pending_;
    // An answer that will never come must not hold back every later notification.
    if (!startQuery(pa_context_get_server_info(context_.get(), serverInfoCallback, this),
                    "pa_context_get_server_info()")) {
        --pending_;
    }
}

void PulseBackend::querySink(std::uint32_t index) {
    ++pending_;
    if (!startQuery(
            pa_context_get_sink_info_by_index(context_.get(), index, sinkInfoCallback, this),
            "pa_context_get_sink_info_by_index()")) {
        --pending_;
    }
}

pa_time_event* PulseBackend::startTimer(int milliseconds, pa_time_event_cb_t callback) {
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(milliseconds) * PA_USEC_PER_MSEC);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_.get());
    return api->time_new(api, &when, callback, this);
}

void PulseBackend::stopTimer(pa_time_event*& timer) {
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(loop_.get())->time_free(timer);
        timer = nullptr;
    }
}

void PulseBackend::settleCallback(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                  void* self) {
    auto* backend = static_cast<PulseBackend*>(self);
    api->time_free(event);
    backend->settleTimer_ = nullptr;
    if (backend->ready_) {
        backend->queryServer();
    }
}

void PulseBackend::serverInfoCallback(pa_context*, const pa_server_info* info, void* self) {
    auto* backend = static_cast<PulseBackend*>(self);
    if (info != nullptr) {
        backend->defaultSinkName_ = info->default_sink_name ? info->default_sink_name : "";
        backend->noteOutput();
    }
    backend->pending_ = std::max(0, backend->pending_ - 1);
    backend->announce();
}

void PulseBackend::sinkInfoCallback(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* backend = static_cast<PulseBackend*>(self);
    if (eol == 0 && info != nullptr) {
        backend->onSinkInfo(*info);
        return;
    }
    backend->pending_ = std::max(0, backend->pending_ - 1);
    backend->announce();
}

void PulseBackend::sinkListCallback(pa_context* context, const pa_sink_info* info, int eol,
                                    void* self) {
    sinkInfoCallback(context, info, eol, self);
}

void PulseBackend::onSinkInfo(const pa_sink_info& info) {
    Sink& sink = sinks_[info.index];
    sink.name = info.name ? info.name : "";
    sink.outputType = pulse::outputTypeOf(info);
    sink.volume = info.volume;
    sink.muted = info.mute != 0;
    sink.activePort = info.active_port && info.active_port->name ? info.active_port->name : "";
    noteOutput();
}

void PulseBackend::noteOutput() {
    // Listeners read the mirror whenever they run, so every output it shows counts, not only
    // the one it settles on: after A, B and A again, the listener that was told of A may have
    // acted on B, and A needs another notification.
    auto now = currentOutput();
    if (now != seen_) {
        seen_ = now;
        forceAnnounce_ = true;
    }
}

std::optional<PulseBackend::Output> PulseBackend::currentOutput() const {
    for (const auto& [index, sink] : sinks_) {
        if (sink.name == defaultSinkName_) {
            return Output{index, sink.outputType, sink.activePort};
        }
    }
    return std::nullopt;
}

void PulseBackend::announce() {
    if (!ready_ || pending_ > 0) {
        // Wait for every answer, so listeners see the server as it is after the event.
        return;
    }
    std::optional<Output> now = currentOutput();
    // Without a default output there is nothing for a listener to act on.
    bool notify = now && forceAnnounce_;
    forceAnnounce_ = false;
    if (!firstAttemptDone_) {
        // The program's own start-up deals with the state it finds.
        firstAttemptDone_ = true;
        pa_threaded_mainloop_signal(loop_.get(), 0);
        return;
    }
    if (notify) {
        notifyListeners(kOutputChanged);
    }
}

OSStatus PulseBackend::deliveryStarts(AudioObjectID, std::uint32_t,
                                      const AudioObjectPropertyAddress*, void* self) {
    pin = Pin{self, std::nullopt};
    return kAudioHardwareNoError;
}

std::optional<std::uint32_t> PulseBackend::defaultSinkForCaller() const {
    auto output = currentOutput();
    auto live = output ? std::optional(std::get<0>(*output)) : std::nullopt;
    if (pin.backend != this) {
        return live;
    }
    // A listener sees one default output from its first question to its end. A restore split
    // over two outputs would leave the first one muted, or give it the other one's volume; a
    // change in between has a notification of its own.
    if (!pin.sink || !sinks_.contains(*pin.sink)) {
        pin.sink = live;
    }
    return pin.sink;
}

OSStatus PulseBackend::getProperty(AudioObjectID objectID,
                                   const AudioObjectPropertyAddress& address, std::uint32_t& size,
                                   void* data) {
    std::uint32_t value = 0;
    OSStatus status = kAudioHardwareNoError;
    pa_threaded_mainloop_lock(loop_.get());
    if (!ready_) {
        status = kAudioHardwareNotRunningError;
    } else if (objectID == kAudioObjectSystemObject) {
        auto sink = defaultSinkForCaller();
        if (address.mSelector != kAudioHardwarePropertyDefaultOutputDevice) {
            status = kAudioHardwareUnknownPropertyError;
        } else if (!sink) {
            status = kAudioHardwareNotRunningError;
        } else {
            value = pulse::deviceIdOf(*sink);
        }
    } else {
        status = readDevice(objectID, address.mSelector, value);
    }
    pa_threaded_mainloop_unlock(loop_.get());
    if (status == kAudioHardwareNoError) {
        std::memcpy(data, &value, sizeof value);
        size = sizeof value;
    }
    return status;
}

OSStatus PulseBackend::setProperty(AudioObjectID objectID,
                                   const AudioObjectPropertyAddress& address, std::uint32_t,
                                   const void* data) {
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    pa_threaded_mainloop_lock(loop_.get());
    OSStatus status =
        ready_ ? writeDevice(objectID, address.mSelector, value) : kAudioHardwareNotRunningError;
    pa_threaded_mainloop_unlock(loop_.get());
    return status;
}

OSStatus PulseBackend::readDevice(AudioObjectID objectID, std::uint32_t selector,
                                  std::uint32_t& out) {
    auto found = sinks_.find(pulse::sinkIndexOf(objectID));
    if (objectID < pulse::kDeviceIdOffset || found == sinks_.end()) {
        return kAudioHardwareBadObjectError;
    }
    const Sink& sink = found->second;
    if (selector == kAudioDevicePropertyDataSource) {
        out = sink.outputType;
    } else if (selector == kAudioHardwareServiceDeviceProperty_VirtualMasterVolume) {
        out = std::bit_cast<std::uint32_t>(pulse::volumeFraction(sink.volume));
    } else if (selector == kAudioDevicePropertyMute) {
        out = sink.muted ? 1 : 0;
    } else {
        return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareNoError;
}

OSStatus PulseBackend::writeDevice(AudioObjectID objectID, std::uint32_t selector,
                                   std::uint32_t value) {
    std::uint32_t index = pulse::sinkIndexOf(objectID);
    auto found = sinks_.find(index);
    if (objectID < pulse::kDeviceIdOffset || found == sinks_.end()) {
        return kAudioHardwareBadObjectError;
    }
    const pa_cvolume current = found->second.volume;
    bool succeeded = false;
    Reply reply{loop_.get(), succeeded};
    if (selector == kAudioHardwareServiceDeviceProperty_VirtualMasterVolume) {
        float fraction = std::bit_cast<float>(value);
        if (std::isnan(fraction)) {
            return kAudioHardwareIllegalOperationError;
        }
        pa_cvolume volume = pulse::scaledTo(current, fraction);
        // Already so: the server would send nothing back either. A change made by another
        // program that we have not heard of yet simply counts as coming after ours.
        if (pa_cvolume_equal(&volume, &current)) {
            return kAudioHardwareNoError;
        }
        OSStatus status = waitFor(pa_context_set_sink_volume_by_index(
                                      context_.get(), index, &volume, successCallback, &reply),
                                  succeeded, "pa_context_set_sink_volume_by_index()");
        // The sink may have gone while we waited.
        if (auto written = sinks_.find(index);
            status == kAudioHardwareNoError && written != sinks_.end()) {
            written->second.volume = volume;
        }
        return status;
    }
    if (selector == kAudioDevicePropertyMute) {
        if (found->second.muted == (value != 0)) {
            return kAudioHardwareNoError;
        }
        OSStatus status = waitFor(pa_context_set_sink_mute_by_index(
                                      context_.get(), index, value != 0, successCallback, &reply),
                                  succeeded, "pa_context_set_sink_mute_by_index()");
        if (auto written = sinks_.find(index);
            status == kAudioHardwareNoError && written != sinks_.end()) {
            written->second.muted = value != 0;
        }
        return status;
    }
    return kAudioHardwareIllegalOperationError;
}

OSStatus PulseBackend::waitFor(pa_operation* operation, bool& succeeded, const char* function) {
    if (operation == nullptr) {
        log::nslog("%s failed: %s", function, pa_strerror(pa_context_errno(context_.get())));
        return kAudioHardwareUnspecifiedError;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(loop_.get());
    }
    pa_operation_unref(operation);
    if (!succeeded) {
        log::nslog("%s failed: %s", function, pa_strerror(pa_context_errno(context_.get())));
        return ready_ ? kAudioHardwareUnspecifiedError : kAudioHardwareNotRunningError;
    }
    return kAudioHardwareNoError;
}

} // namespace platform::audio
