#include "tests/support/PulseClient.h"

#include <cmath>
#include <pulse/subscribe.h>

namespace sonvela::test {

std::unique_ptr<PulseClient> PulseClient::tryConnect(const std::string& server) {
    std::unique_ptr<PulseClient> client(new PulseClient());
    client->loop_ = pa_threaded_mainloop_new();
    client->context_ = pa_context_new(pa_threaded_mainloop_get_api(client->loop_), "sonvela-test");
    auto signal = [](pa_context*, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    };
    pa_context_set_state_callback(client->context_, signal, client->loop_);
    pa_threaded_mainloop_lock(client->loop_);
    bool started = pa_context_connect(client->context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                                      nullptr) >= 0 &&
                   pa_threaded_mainloop_start(client->loop_) >= 0;
    pa_context_state_t state = pa_context_get_state(client->context_);
    while (started && PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(client->loop_);
        state = pa_context_get_state(client->context_);
    }
    pa_threaded_mainloop_unlock(client->loop_);
    return state == PA_CONTEXT_READY ? std::move(client) : nullptr;
}

PulseClient::~PulseClient() {
    // The context is freed after the loop thread has stopped, never under its feet.
    pa_threaded_mainloop_stop(loop_);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseClient::connected() {
    pa_threaded_mainloop_lock(loop_);
    bool ready = pa_context_get_state(context_) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

PulseClient::Reply
PulseClient::run(const std::function<pa_operation*(pa_context*, Reply&)>& start) {
    Reply reply;
    reply.loop = loop_;
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

namespace {

std::string property(const pa_proplist* properties, const char* key) {
    const char* value = pa_proplist_gets(properties, key);
    return value ? value : "";
}

// The reply a callback fills. The waiting caller wakes only once the loop thread lets go of
// the lock, after the callback has returned.
PulseClient::Reply& wake(void* reply) {
    auto& r = *static_cast<PulseClient::Reply*>(reply);
    pa_threaded_mainloop_signal(r.loop, 0);
    return r;
}

void onSinks(pa_context*, const pa_sink_info* info, int eol, void* reply) {
    if (auto& r = wake(reply); eol == 0 && info != nullptr) {
        r.sinks.push_back({info->name ? info->name : "", info->index,
                           float(double(pa_cvolume_max(&info->volume)) / PA_VOLUME_NORM),
                           info->mute != 0, property(info->proplist, "node.link-group")});
    }
}

void onStreams(pa_context*, const pa_sink_input_info* info, int eol, void* reply) {
    if (auto& r = wake(reply); eol == 0 && info != nullptr) {
        r.streams.push_back({info->index, info->sink, info->client,
                             property(info->proplist, "node.link-group"),
                             property(info->proplist, "object.id")});
    }
}

void onServer(pa_context*, const pa_server_info* info, void* reply) {
    wake(reply).defaultSink = info && info->default_sink_name ? info->default_sink_name : "";
}

void onSuccess(pa_context*, int success, void* reply) {
    wake(reply).succeeded = success != 0;
}

// Every sink and stream of the test servers is stereo.
pa_cvolume stereo(float fraction) {
    pa_cvolume volume;
    pa_cvolume_set(&volume, 2, pa_volume_t(std::lround(fraction * PA_VOLUME_NORM)));
    return volume;
}

} // namespace

std::optional<PulseClient::Sink> PulseClient::sink(const std::string& name) {
    Reply reply = run([&](pa_context* c, Reply& r) {
        return pa_context_get_sink_info_by_name(c, name.c_str(), onSinks, &r);
    });
    return reply.sinks.empty() ? std::nullopt : std::optional(reply.sinks.front());
}

std::vector<PulseClient::Sink> PulseClient::sinks() {
    return run([](pa_context* c, Reply& r) {
               return pa_context_get_sink_info_list(c, onSinks, &r);
           })
        .sinks;
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
    pa_cvolume volume = stereo(fraction);
    return run([&](pa_context* c, Reply& r) {
               return pa_context_set_sink_volume_by_name(c, name.c_str(), &volume, onSuccess, &r);
           })
        .succeeded;
}

bool PulseClient::setMute(const std::string& name, bool muted) {
    return run([&](pa_context* c, Reply& r) {
               return pa_context_set_sink_mute_by_name(c, name.c_str(), muted, onSuccess, &r);
           })
        .succeeded;
}

std::vector<PulseClient::Stream> PulseClient::streams() {
    return run([](pa_context* c, Reply& r) {
               return pa_context_get_sink_input_info_list(c, onStreams, &r);
           })
        .streams;
}

bool PulseClient::moveStream(std::uint32_t index, const std::string& sink) {
    return run([&](pa_context* c, Reply& r) {
               return pa_context_move_sink_input_by_name(c, index, sink.c_str(), onSuccess, &r);
           })
        .succeeded;
}

bool PulseClient::setStreamVolume(std::uint32_t index, float fraction) {
    pa_cvolume volume = stereo(fraction);
    return run([&](pa_context* c, Reply& r) {
               return pa_context_set_sink_input_volume(c, index, &volume, onSuccess, &r);
           })
        .succeeded;
}

bool PulseClient::watch(const std::string& name) {
    auto info = sink(name);
    watched_ = info ? info->index : PA_INVALID_INDEX;
    changes_ = 0;
    auto onEvent = [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                      void* self) {
        auto* client = static_cast<PulseClient*>(self);
        if (type == (PA_SUBSCRIPTION_EVENT_SINK | PA_SUBSCRIPTION_EVENT_CHANGE) &&
            index == client->watched_) {
            ++client->changes_;
        }
    };
    return info && run([&](pa_context* c, Reply& r) {
                       pa_context_set_subscribe_callback(c, onEvent, this);
                       return pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SINK, onSuccess, &r);
                   }).succeeded;
}

} // namespace sonvela::test
