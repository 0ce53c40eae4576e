#pragma once

#include <memory>
#include <pulse/context.h>

namespace platform::audio::pulse {

// Ends a connection to the sound server: none of its callbacks runs afterwards.
struct ContextDeleter {
    void operator()(pa_context* context) const;
};

using Context = std::unique_ptr<pa_context, ContextDeleter>;

} // namespace platform::audio::pulse
