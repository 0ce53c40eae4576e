#include "platform/audio/DefaultSinkProbe.h"

#include "platform/audio/Operation.h"
#include "platform/names/ProductNames.h"

namespace platform::audio::pulse {

DefaultSinkProbe::DefaultSinkProbe(PulseLoop& loop, Answer answer)
    : answer_(std::move(answer)),
      context_(
          pa_context_new(loop.api(), (productNames().audioClient + " (second opinion)").c_str())),
      answerTimer_(loop.api()) {
    pa_context_set_state_callback(context_.get(), onStateChanged, this);
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        finish(std::nullopt);
    }
}

void DefaultSinkProbe::onStateChanged(pa_context* context, void* self) {
    auto* probe = static_cast<DefaultSinkProbe*>(self);
    pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        if (Operation(pa_context_get_server_info(context, onServerInfo, self))) {
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
    if (!answerTimer_.running()) {
        // Out of this context's callbacks before the owner hears, so that it may drop us.
        answerTimer_.start(0, [this, sink = std::move(defaultSink)] { answer_(sink); });
    }
}

} // namespace platform::audio::pulse
