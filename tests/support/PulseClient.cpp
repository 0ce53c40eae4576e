#include "tests/support/PulseClient.h"

#include <cmath>
#include <pulse/error.h>
#include <pulse/subscribe.h>
#include <stdexcept>

namespace sonvela::test {

PulseClient::PulseClient(const std::string& server) {
    if (!connect(server)) {
        throw std::runtime_error("no sound server answers at " + server);
    }
}

std::unique_ptr<PulseClient> PulseClient::tryConnect(const std::string& server) {
    std::unique_ptr<PulseClient> client(new PulseClient());
    return client->connect(server) ? std::move(client) : nullptr;
}

PulseClient::~PulseClient() {
    if (loop_ != nullptr) {
        // The context is freed after the loop thread has stopped, never under its feet.
        pa_threaded_mainloop_stop(loop_);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
    }
}

bool PulseClient::connect(const std::string& server) {
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "sonvela-test");
    pa_context_set_state_callback(
        context_,
        [](pa_context*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        loop_);
    pa_threaded_mainloop_lock(loop_);
    bool started =
        pa_context_connect(context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        pa_threaded_mainloop_start(loop_) >= 0;
    pa_context_state_t state = pa_context_get_state(context_);
    while (started && PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(loop_);
        state = pa_context_get_state(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    return state == PA_CONTEXT_READY;
}

bool PulseClient::connected() {
    pa_threaded_mainloop_lock(loop_);
    bool ready = pa_context_get_state(context_) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

std::string PulseClient::lastError() {
    pa_threaded_mainloop_lock(loop_);
    std::string text = pa_strerror(pa_context_errno(context_));
    pa_threaded_mainloop_unlock(loop_);
    return text;
}

PulseClient::Reply
PulseClient::run(const std::function<pa_operation*(pa_context*, Reply&)>& start) {
    Reply reply(loop_);
    pa_threaded_mainloop_lock(loop_);
    if (pa_operation* operation = start(context_, reply)) {
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            pa_threaded_mainloop_wait(loop_);
        }
        pa_operation_unref(operation);
    }
    pa_threaded_mainloop_unlock(loop_);
    return reply;
}

void PulseClient::onSinks(pa_context*, const pa_sink_info* info, int eol, void* reply) {
    auto& r = *static_cast<Reply*>(reply);
    if (eol == 0 && info != nullptr) {
        r.sinks.push_back({info->index, info->volume, info->mute != 0});
        r.names.emplace_back(info->name ? info->name : "");
        r.succeeded = true;
    }
    pa_threaded_mainloop_signal(r.loop, 0);
}

void PulseClient::onServer(pa_context*, const pa_server_info* info, void* reply) {
    auto& r = *static_cast<Reply*>(reply);
    r.defaultSink = info && info->default_sink_name ? info->default_sink_name : "";
    pa_threaded_mainloop_signal(r.loop, 0);
}

void PulseClient::onSuccess(pa_context*, int success, void* reply) {
    auto& r = *static_cast<Reply*>(reply);
    r.succeeded = success != 0;
    pa_threaded_mainloop_signal(r.loop, 0);
}

std::optional<PulseClient::Sink> PulseClient::lookUp(const std::string& name) {
    Reply reply = run([&](pa_context* c, Reply& r) {
        return pa_context_get_sink_info_by_name(c, name.c_str(), onSinks, &r);
    });
    return reply.sinks.empty() ? std::nullopt : std::optional(reply.sinks.front());
}

std::optional<PulseClient::SinkState> PulseClient::sink(const std::string& name) {
    auto info = lookUp(name);
    if (!info) {
        return std::nullopt;
    }
    return SinkState{float(double(pa_cvolume_max(&info->volume)) / double(PA_VOLUME_NORM)),
                     info->muted};
}

std::vector<std::string> PulseClient::sinkNames() {
    return run([](pa_context* c, Reply& r) {
               return pa_context_get_sink_info_list(c, onSinks, &r);
           })
        .names;
}

std::string PulseClient::defaultSink() {
    return run([](pa_context* c, Reply& r) { return pa_context_get_server_info(c, onServer, &r); })
        .defaultSink;
}

bool PulseClient::setDefaultSink(const std::string& name) {
    return run([&](pa_context* c, Reply& r) {
               return pa_context_set_default_sink(c, name.c_str(), onSuccess, &r);
           })
        .succeeded;
}

bool PulseClient::setVolume(const std::string& name, float fraction) {
    auto info = lookUp(name);
    pa_cvolume volume;
    pa_cvolume_set(&volume, info ? info->volume.channels : 0,
                   pa_volume_t(std::lround(fraction * PA_VOLUME_NORM)));
    return info &&
           run([&](pa_context* c, Reply& r) {
               return pa_context_set_sink_volume_by_name(c, name.c_str(), &volume, onSuccess, &r);
           }).succeeded;
}

bool PulseClient::setMute(const std::string& name, bool muted) {
    return run([&](pa_context* c, Reply& r) {
               return pa_context_set_sink_mute_by_name(c, name.c_str(), muted, onSuccess, &r);
           })
        .succeeded;
}

void PulseClient::onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                          void* self) {
    auto* client = static_cast<PulseClient*>(self);
    if (type == (PA_SUBSCRIPTION_EVENT_SINK | PA_SUBSCRIPTION_EVENT_CHANGE) &&
        index == client->watched_) {
        ++client->changes_;
    }
}

bool PulseClient::watch(const std::string& name) {
    auto info = lookUp(name);
    watched_ = info ? info->index : PA_INVALID_INDEX;
    changes_ = 0;
    return info && run([this](pa_context* c, Reply& r) {
                       pa_context_set_subscribe_callback(c, onEvent, this);
                       return pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SINK, onSuccess, &r);
                   }).succeeded;
}

} // namespace sonvela::test
