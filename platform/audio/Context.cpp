#include "platform/audio/Context.h"

#include <pulse/subscribe.h>

namespace platform::audio::pulse {

void ContextDeleter::operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

} // namespace platform::audio::pulse
