#include "platform/audio/DefaultSinkProbe.h"

#include "platform/names/ProductNames.h"

namespace platform::audio::pulse {

void DefaultSinkProbe::ContextDeleter::operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

DefaultSinkProbe::DefaultSinkProbe(PulseLoop& loop, Answer answer)
    : loop_(loop), answer_(std::move(answer)),
      context_(
          pa_context_new(loop.api(), (productNames().audioClient + " (second opinion)").c_str())) {
    pa_context_set_state_callback(context_.get(), onStateChanged, this);
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        finish(std::nullopt);
    }
}

DefaultSinkProbe::~DefaultSinkProbe() {
    loop_.stopTimer(answerTimer_);
}

void DefaultSinkProbe::onStateChanged(pa_context* context, void* self) {
    auto* probe = static_cast<DefaultSinkProbe*>(self);
    pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        pa_operation* asked = pa_context_get_server_info(context, onServerInfo, self);
        if (asked != nullptr) {
            pa_operation_unref(asked);
            return;
        }
    }
    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) {
        probe->finish(std::nullopt);
    }
}

void DefaultSinkProbe::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* probe = static_cast<DefaultSinkProbe*>(self);
    probe->finish(info && info->default_sink_name
                      ? std::optional<std::string>(info->default_sink_name)
                      : std::nullopt);
}

void DefaultSinkProbe::finish(std::optional<std::string> defaultSink) {
    if (answerTimer_ == nullptr) {
        defaultSink_ = std::move(defaultSink);
        // Out of this context's callbacks before the owner hears, so that it may drop us.
        answerTimer_ = loop_.startTimer(0, onAnswerTime, this);
    }
}

void DefaultSinkProbe::onAnswerTime(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    auto* probe = static_cast<DefaultSinkProbe*>(self);
    probe->loop_.stopTimer(probe->answerTimer_);
    probe->answer_(probe->defaultSink_);
}

} // namespace platform::audio::pulse
