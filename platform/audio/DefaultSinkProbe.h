#pragma once

#include "platform/audio/PulseLoop.h"

#include <functional>
#include <memory>
#include <optional>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <string>

namespace platform::audio::pulse {

// One question to the sound server on a connection of its own: which sink is the default, as a
// newcomer sees it. The answer (nullopt when there is none) comes on the loop's thread, outside
// any libpulse callback, so the owner may drop the probe there.
class DefaultSinkProbe {
public:
    using Answer = std::function<void(std::optional<std::string> defaultSink)>;

    DefaultSinkProbe(PulseLoop& loop, Answer answer);
    ~DefaultSinkProbe();
    DefaultSinkProbe(const DefaultSinkProbe&) = delete;
    DefaultSinkProbe& operator=(const DefaultSinkProbe&) = delete;

private:
    struct ContextDeleter {
        void operator()(pa_context* context) const;
    };

    static void onStateChanged(pa_context* context, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onAnswerTime(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when,
                             void* self);
    void finish(std::optional<std::string> defaultSink);

    PulseLoop& loop_;
    Answer answer_;
    std::unique_ptr<pa_context, ContextDeleter> context_;
    std::optional<std::string> defaultSink_;
    pa_time_event* answerTimer_ = nullptr;
};

} // namespace platform::audio::pulse
