#pragma once

#include <functional>
#include <memory>
#include <pulse/mainloop-api.h>

namespace platform::audio::pulse {

// A call on the loop's thread after a while, once; stopped when the timer goes. It may be moved
// while it runs: what libpulse calls back stays where it is.
class Timer {
public:
    explicit Timer(pa_mainloop_api* api);
    ~Timer() { stop(); }
    Timer(Timer&& other) noexcept = default;
    Timer& operator=(Timer&& other) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Calls fn after the time; one that was running starts over. fn may start, stop or destroy
    // its own timer.
    void start(int milliseconds, std::function<void()> fn);
    void stop();
    bool running() const { return state_ && state_->event != nullptr; }

private:
    struct State {
        pa_mainloop_api* api;
        pa_time_event* event = nullptr;
        std::function<void()> fn;
    };

    static void onTime(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when,
                       void* state);

    std::unique_ptr<State> state_;
};

} // namespace platform::audio::pulse
