#include "tests/support/PulseClient.h"

#include <cmath>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>
#include <stdexcept>

namespace sonvela::test {

// What one operation's callbacks hand back to the waiting caller.
struct PulseClient::Request {
    explicit Request(pa_threaded_mainloop* owner) : loop(owner) {}

    pa_threaded_mainloop* loop;
    bool succeeded = false;
    std::optional<SinkState> sink;
    std::uint8_t channels = 0;
    std::uint32_t index = PA_INVALID_INDEX;
    std::vector<std::string> names;
    std::string defaultSink;
};

void PulseClient::LoopDeleter::operator()(pa_threaded_mainloop* loop) const {
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

void PulseClient::ContextDeleter::operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

PulseClient::PulseClient(const std::string& server) {
    if (!connect(server)) {
        throw std::runtime_error("no sound server answers at " + server);
    }
}

PulseClient::~PulseClient() {
    // The context is freed after the loop thread has stopped, never under its feet.
    if (loop_) {
        pa_threaded_mainloop_stop(loop_.get());
    }
}

std::unique_ptr<PulseClient> PulseClient::tryConnect(const std::string& server) {
    std::unique_ptr<PulseClient> client(new PulseClient());
    return client->connect(server) ? std::move(client) : nullptr;
}

bool PulseClient::connect(const std::string& server) {
    loop_.reset(pa_threaded_mainloop_new());
    pa_threaded_mainloop_lock(loop_.get());
    context_.reset(pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "sonvela-test"));
    pa_context_set_state_callback(
        context_.get(),
        [](pa_context*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        loop_.get());
    bool ready = false;
    if (pa_context_connect(context_.get(), server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        pa_threaded_mainloop_start(loop_.get()) >= 0) {
        for (;;) {
            pa_context_state_t state = pa_context_get_state(context_.get());
            if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) {
                ready = state == PA_CONTEXT_READY;
                break;
            }
            pa_threaded_mainloop_wait(loop_.get());
        }
    }
    pa_threaded_mainloop_unlock(loop_.get());
    return ready;
}

bool PulseClient::connected() {
    pa_threaded_mainloop_lock(loop_.get());
    bool ready = pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(loop_.get());
    return ready;
}

std::string PulseClient::lastError() {
    pa_threaded_mainloop_lock(loop_.get());
    std::string text = pa_strerror(pa_context_errno(context_.get()));
    pa_threaded_mainloop_unlock(loop_.get());
    return text;
}

// Called with the loop locked.
bool PulseClient::finish(pa_operation* operation) {
    if (operation == nullptr) {
        return false;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(loop_.get());
    }
    bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

void PulseClient::onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto& request = *static_cast<Request*>(userdata);
    if (eol == 0 && info != nullptr) {
        float volume = float(double(pa_cvolume_max(&info->volume)) / double(PA_VOLUME_NORM));
        request.sink = SinkState{volume, info->mute != 0};
        request.channels = info->volume.channels;
        request.index = info->index;
        request.names.emplace_back(info->name ? info->name : "");
        request.succeeded = true;
    }
    pa_threaded_mainloop_signal(request.loop, 0);
}

void PulseClient::onServer(pa_context*, const pa_server_info* info, void* userdata) {
    auto& request = *static_cast<Request*>(userdata);
    if (info != nullptr && info->default_sink_name != nullptr) {
        request.defaultSink = info->default_sink_name;
    }
    pa_threaded_mainloop_signal(request.loop, 0);
}

void PulseClient::onSuccess(pa_context*, int success, void* userdata) {
    auto& request = *static_cast<Request*>(userdata);
    request.succeeded = success != 0;
    pa_threaded_mainloop_signal(request.loop, 0);
}

bool PulseClient::lookUp(const std::string& name, Request& info) {
    return finish(pa_context_get_sink_info_by_name(context_.get(), name.c_str(), onSink, &info)) &&
           info.sink;
}

std::optional<PulseClient::SinkState> PulseClient::sink(const std::string& name) {
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    lookUp(name, request);
    pa_threaded_mainloop_unlock(loop_.get());
    return request.sink;
}

std::vector<std::string> PulseClient::sinkNames() {
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    finish(pa_context_get_sink_info_list(context_.get(), onSink, &request));
    pa_threaded_mainloop_unlock(loop_.get());
    return request.names;
}

std::string PulseClient::defaultSink() {
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    finish(pa_context_get_server_info(context_.get(), onServer, &request));
    pa_threaded_mainloop_unlock(loop_.get());
    return request.defaultSink;
}

bool PulseClient::setDefaultSink(const std::string& name) {
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    bool done =
        finish(pa_context_set_default_sink(context_.get(), name.c_str(), onSuccess, &request));
    pa_threaded_mainloop_unlock(loop_.get());
    return done && request.succeeded;
}

bool PulseClient::setVolume(const std::string& name, float fraction) {
    Request info{loop_.get()};
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    bool done = lookUp(name, info);
    if (done) {
        pa_cvolume volume;
        pa_cvolume_set(&volume, info.channels, pa_volume_t(std::lround(fraction * PA_VOLUME_NORM)));
        done = finish(pa_context_set_sink_volume_by_name(context_.get(), name.c_str(), &volume,
                                                         onSuccess, &request));
    }
    pa_threaded_mainloop_unlock(loop_.get());
    return done && request.succeeded;
}

bool PulseClient::setMute(const std::string& name, bool muted) {
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    bool done = finish(
        pa_context_set_sink_mute_by_name(context_.get(), name.c_str(), muted, onSuccess, &request));
    pa_threaded_mainloop_unlock(loop_.get());
    return done && request.succeeded;
}

void PulseClient::onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                          void* self) {
    auto* client = static_cast<PulseClient*>(self);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK &&
        (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE &&
        index == client->watched_) {
        ++client->changes_;
    }
}

bool PulseClient::watch(const std::string& name) {
    Request info{loop_.get()};
    Request request{loop_.get()};
    pa_threaded_mainloop_lock(loop_.get());
    bool done = lookUp(name, info);
    if (done) {
        watched_ = info.index;
        changes_ = 0;
        pa_context_set_subscribe_callback(context_.get(), onEvent, this);
        done = finish(
            pa_context_subscribe(context_.get(), PA_SUBSCRIPTION_MASK_SINK, onSuccess, &request));
    }
    pa_threaded_mainloop_unlock(loop_.get());
    return done && request.succeeded;
}

} // namespace sonvela::test
