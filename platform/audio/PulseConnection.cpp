#include "platform/audio/PulseConnection.h"

#include "platform/audio/PulseMapping.h"
#include "platform/log/Log.h"
#include "platform/names/ProductNames.h"

#include <algorithm>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <utility>

namespace platform::audio::pulse {

namespace {

constexpr int kFirstRetryMs = 50;
constexpr int kLongestRetryMs = 2000;
constexpr int kSettleMs = 1000;
// Answers come within a millisecond or two; one this late may never come.
constexpr int kLateAnswerMs = 2000;
// How soon a chain between two sinks is looked at again, when no event may tell of its landing.
constexpr int kFirstChainLookMs = 100;

} // namespace

PulseConnection::PulseConnection(PulseLoop& loop) : loop_(loop) {}

const char* PulseConnection::lastError() const {
    return pa_strerror(pa_context_errno(context_.get()));
}

void PulseConnection::connect() {
    // Without a name of ours libpulse names the connection after the program.
    const std::string& name = productNames().audioClient;
    context_.reset(pa_context_new(loop_.api(), name.empty() ? nullptr : name.c_str()));
    pa_context_set_state_callback(context_.get(), onStateChanged, this);
    pa_context_set_subscribe_callback(context_.get(), onEvent, this);
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failed();
    }
}

void PulseConnection::onStateChanged(pa_context* context, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        connection->ready();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        connection->failed();
        break;
    default:
        break;
    }
}

void PulseConnection::ready() {
    if (logged_ == Logged::Lost) {
        log::nslog("connected to the sound server again");
    }
    logged_ = Logged::Nothing;
    wasReady_ = true;
    backoffMs_ = 0;
    mirror_.connected();
    auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER |
                                       PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                       PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
    // Nothing waits for its answer: the events simply begin.
    Operation subscribed(pa_context_subscribe(context_.get(), mask, nullptr, nullptr));
    askServer();
    ask(Operation(pa_context_get_sink_info_list(
            context_.get(), onInfo<pa_sink_info, &ServerMirror::sinkInfo>, this)),
        "pa_context_get_sink_info_list()");
    ask(Operation(pa_context_get_sink_input_info_list(
            context_.get(), onInfo<pa_sink_input_info, &ServerMirror::sinkInputInfo>, this)),
        "pa_context_get_sink_input_info_list()");
    ask(Operation(pa_context_get_source_output_info_list(
            context_.get(), onInfo<pa_source_output_info, &ServerMirror::sourceOutputInfo>, this)),
        "pa_context_get_source_output_info_list()");
    // PipeWire can miss a default switch made just as a client connects: ask again on a
    // connection of its own when this one has settled. One timer, then none while connected.
    settleTimer_.start(kSettleMs, [this] { askForSecondOpinion(); });
}

void PulseConnection::failed() {
    // Once per loss: the retries go on quietly until the server is back. At login the server
    // may simply not be there yet.
    if (wasReady_) {
        log::nslog("lost the connection to the sound server: %s", lastError());
        logged_ = Logged::Lost;
    } else if (logged_ == Logged::Nothing) {
        log::nslog("no sound server to connect to yet (%s); waiting for one", lastError());
        logged_ = Logged::Waiting;
    }
    wasReady_ = false;
    firstAttemptDone_ = true;
    mirror_.lost();
    if (Delivery* running = delivery()) {
        running->dropDeferredQueries();
    }
    probe_.reset();
    settleTimer_.stop();
    lateTimer_.stop();
    chainTimer_.stop();
    if (!reconnectTimer_.running()) {
        backoffMs_ = backoffMs_ == 0 ? kFirstRetryMs : std::min(backoffMs_ * 2, kLongestRetryMs);
        // The old context is dropped in connect(), outside its own callbacks.
        reconnectTimer_.start(backoffMs_, [this] { connect(); });
    }
}

void PulseConnection::askForSecondOpinion() {
    probe_ = std::make_unique<DefaultSinkProbe>(loop_, [this](auto sink) { secondOpinion(sink); });
}

void PulseConnection::secondOpinion(const std::optional<std::string>& defaultSink) {
    probe_.reset();
    // PipeWire 0.3 can keep an old default sink for a connection that was new when the
    // default changed: its answers then stay out of date and no event comes. A new connection
    // sees the server as it is.
    if (defaultSink && mirror_.outOfDate(*defaultSink)) {
        log::nslog("the sound server did not tell us of a change of the default output; "
                   "connecting again");
        mirror_.lost();
        connect();
    }
}

void PulseConnection::onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                              void* self) {
    static_cast<PulseConnection*>(self)->event(type, index);
}

void PulseConnection::event(pa_subscription_event_type_t type, std::uint32_t index) {
    std::uint32_t facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    std::uint32_t kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        askServer();
    } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        removed(facility, index);
    } else {
        // An event does not say what changed: fetch the object and compare. Volume and mute
        // changes end up here too and are dropped by the comparison, so our own writes start
        // nothing, and neither does a loopback's stream that reports itself every second.
        if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_NEW) {
            mirror_.sinkAppeared();
        }
        query({facility, index});
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_NEW) {
        // PipeWire moves links without an event of their own; a change of a sink usually
        // comes with them.
        askChainStreams();
    }
    watchPendingChain();
}

void PulseConnection::removed(std::uint32_t facility, std::uint32_t index) {
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        mirror_.sinkRemoved(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        mirror_.sinkInputRemoved(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) {
        mirror_.sourceOutputRemoved(index);
    }
}

void PulseConnection::query(const Delivery::Query& query) {
    if (Delivery* running = delivery()) {
        running->deferQuery(query);
    } else {
        sendQuery(query);
    }
}

void PulseConnection::sendQuery(const Delivery::Query& query) {
    auto [facility, index] = query;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        askSink(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        ask(Operation(pa_context_get_sink_input_info(
                context_.get(), index, onInfo<pa_sink_input_info, &ServerMirror::sinkInputInfo>,
                this)),
            "pa_context_get_sink_input_info()");
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) {
        ask(Operation(pa_context_get_source_output_info(
                context_.get(), index,
                onInfo<pa_source_output_info, &ServerMirror::sourceOutputInfo>, this)),
            "pa_context_get_source_output_info()");
    }
}

void PulseConnection::askChainStreams() {
    std::vector<std::uint32_t> streams = mirror_.chainStreams();
    for (std::uint32_t stream : streams) {
        query({PA_SUBSCRIPTION_EVENT_SINK_INPUT, stream});
    }
}

// A chain between two sinks may land without an event on PipeWire: look again, less and less
// often, until it has.
void PulseConnection::watchPendingChain() {
    if (!mirror_.chainPending()) {
        chainBackoffMs_ = 0;
        chainTimer_.stop();
        return;
    }
    if (!chainTimer_.running()) {
        chainBackoffMs_ = chainBackoffMs_ == 0 ? kFirstChainLookMs
                                               : std::min(chainBackoffMs_ * 2, kLongestRetryMs);
        chainTimer_.start(chainBackoffMs_, [this] {
            askChainStreams();
            watchPendingChain();
        });
    }
}

std::optional<AudioDeviceID> PulseConnection::liveDefaultOutput() const {
    auto sink = mirror_.defaultOutput();
    return sink ? std::optional(deviceIdOf(*sink)) : std::nullopt;
}

bool PulseConnection::hasOutput(AudioDeviceID device) const {
    return device >= kDeviceIdOffset && mirror_.sink(sinkIndexOf(device)) != nullptr;
}

void PulseConnection::askSink(std::uint32_t index) {
    ask(Operation(pa_context_get_sink_info_by_index(
            context_.get(), index, onInfo<pa_sink_info, &ServerMirror::sinkInfo>, this)),
        "pa_context_get_sink_info_by_index()");
}

void PulseConnection::askServer() {
    ask(Operation(pa_context_get_server_info(context_.get(), onServerInfo, this)),
        "pa_context_get_server_info()");
}

// The answer comes to the callback; the operation itself is not needed for that.
void PulseConnection::ask(Operation operation, const char* function) {
    if (!operation) {
        // No answer will come, so none is waited for.
        log::nslog("%s failed: %s", function, lastError());
        return;
    }
    mirror_.asked();
    if (!lateTimer_.running()) {
        lateTimer_.start(kLateAnswerMs, [this] { stopWaitingForLateAnswers(); });
    }
}

void PulseConnection::answered() {
    mirror_.answered();
    if (mirror_.pendingQueries() == 0) {
        lateTimer_.stop();
    }
    watchPendingChain();
}

void PulseConnection::stopWaitingForLateAnswers() {
    log::nslog("the sound server has not answered for %d ms; going on without the answer",
               kLateAnswerMs);
    mirror_.stopWaitingForAnswers();
}

void PulseConnection::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (info != nullptr) {
        connection->mirror_.serverInfo(*info);
    }
    connection->answered();
}

// One item of a list answer; the end of the list is the answer itself.
template <typename Info, void (ServerMirror::*take)(const Info&)>
void PulseConnection::onInfo(pa_context*, const Info* info, int eol, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (eol == 0 && info != nullptr) {
        (connection->mirror_.*take)(*info);
    } else {
        connection->answered();
    }
}

} // namespace platform::audio::pulse
