#include "bench/SinkObserver.h"

#include <cmath>
#include <pulse/subscribe.h>
#include <stdexcept>

namespace {

// Half a percent: the server keeps volumes in steps of 1/65536.
bool atVolume(const pa_sink_info& info, float volume) {
    return std::fabs(float(pa_cvolume_max(&info.volume)) / float(PA_VOLUME_NORM) - volume) < 0.005f;
}

} // namespace

void SinkObserver::LoopDeleter::operator()(pa_threaded_mainloop* loop) const {
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

SinkObserver::SinkObserver(const std::string& server) : loop_(pa_threaded_mainloop_new()) {
    pa_threaded_mainloop_start(loop_.get());
    pa_threaded_mainloop_lock(loop_.get());
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "restore observer");
    pa_context_set_state_callback(context_, onState, this);
    pa_context_set_subscribe_callback(context_, onEvent, this);
    pa_context_connect(context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr);
    pa_context_state_t state;
    while ((state = pa_context_get_state(context_)) != PA_CONTEXT_READY &&
           PA_CONTEXT_IS_GOOD(state)) {
        pa_threaded_mainloop_wait(loop_.get());
    }
    if (state == PA_CONTEXT_READY) {
        pa_operation_unref(pa_context_subscribe(
            context_,
            pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
            nullptr, nullptr));
    }
    pa_threaded_mainloop_unlock(loop_.get());
    if (state != PA_CONTEXT_READY) {
        throw std::runtime_error("observer cannot reach " + server);
    }
}

SinkObserver::~SinkObserver() {
    pa_threaded_mainloop_lock(loop_.get());
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_threaded_mainloop_unlock(loop_.get());
}

void SinkObserver::onState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<SinkObserver*>(self)->loop_.get(), 0);
}

void SinkObserver::arm(const std::string& sink, float volume) {
    pa_threaded_mainloop_lock(loop_.get());
    {
        std::lock_guard lock(mutex_);
        index_ = PA_INVALID_INDEX;
        volume_ = volume;
        startedThere_ = true;
        changes_ = 0;
        seen_ = {};
    }
    pa_operation* lookup = pa_context_get_sink_info_by_name(context_, sink.c_str(), onIndex, this);
    while (pa_operation_get_state(lookup) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(loop_.get());
    }
    pa_operation_unref(lookup);
    pa_threaded_mainloop_unlock(loop_.get());
}

void SinkObserver::onIndex(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* observer = static_cast<SinkObserver*>(self);
    if (eol == 0 && info != nullptr) {
        std::lock_guard lock(observer->mutex_);
        observer->index_ = info->index;
        observer->startedThere_ = atVolume(*info, observer->volume_);
    }
    pa_threaded_mainloop_signal(observer->loop_.get(), 0);
}

void SinkObserver::onEvent(pa_context* context, pa_subscription_event_type_t type,
                           std::uint32_t index, void* self) {
    auto* observer = static_cast<SinkObserver*>(self);
    {
        std::lock_guard lock(observer->mutex_);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
            if (!observer->seen_.told && observer->index_ != PA_INVALID_INDEX) {
                observer->seen_.told = Clock::now();
            }
            return;
        }
        if (index != observer->index_ ||
            (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE) {
            return;
        }
        // A restore mutes first, so the first change is the mute, even when it is over before
        // a query could see it.
        observer->lastChange_ = Clock::now();
        if (observer->changes_++ == 0) {
            observer->seen_.muted = observer->lastChange_;
        }
    }
    pa_operation* query = pa_context_get_sink_info_by_index(context, index, onSink, self);
    if (query != nullptr) {
        pa_operation_unref(query);
    }
}

void SinkObserver::onSink(pa_context*, const pa_sink_info* info, int eol, void* self) {
    if (eol != 0 || info == nullptr) {
        return;
    }
    auto* observer = static_cast<SinkObserver*>(self);
    std::lock_guard lock(observer->mutex_);
    // Events and answers come in order, so this state is the one after the last change heard
    // of. The server may fold the changes of a restore into one event.
    int needed = observer->startedThere_ ? 2 : 1;
    if (!info->mute && observer->changes_ >= needed && !observer->seen_.restored &&
        atVolume(*info, observer->volume_)) {
        observer->seen_.restored = observer->lastChange_;
        observer->changed_.notify_all();
    }
}

SinkObserver::Seen SinkObserver::wait(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, deadline, [this] { return seen_.restored.has_value(); });
    return seen_;
}
