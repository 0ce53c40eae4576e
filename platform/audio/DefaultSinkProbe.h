#pragma once

#include "platform/audio/Context.h"
#include "platform/audio/PulseLoop.h"
#include "platform/audio/Timer.h"

#include <functional>
#include <optional>
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
    DefaultSinkProbe(const DefaultSinkProbe&) = delete;
    DefaultSinkProbe& operator=(const DefaultSinkProbe&) = delete;

private:
    static void onStateChanged(pa_context* context, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    void finish(std::optional<std::string> defaultSink);

    Answer answer_;
    Context context_;
    Timer answerTimer_;
};

} // namespace platform::audio::pulse
