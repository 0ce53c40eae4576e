#include "platform/audio/Timer.h"

#include <pulse/timeval.h>
#include <utility>

namespace platform::audio::pulse {

Timer::Timer(pa_mainloop_api* api) : state_(std::make_unique<State>(State{api, nullptr, {}})) {}

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        stop();
        state_ = std::move(other.state_);
    }
    return *this;
}

void Timer::start(int milliseconds, std::function<void()> fn) {
    stop();
    if (!state_) {
        return;
    }
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(milliseconds) * PA_USEC_PER_MSEC);
    state_->fn = std::move(fn);
    state_->event = state_->api->time_new(state_->api, &when, onTime, state_.get());
}

void Timer::stop() {
    if (running()) {
        state_->api->time_free(std::exchange(state_->event, nullptr));
    }
}

void Timer::onTime(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* state) {
    auto* s = static_cast<State*>(state);
    api->time_free(event);
    s->event = nullptr;
    // Out of the state first: fn may destroy the timer, and the state with it.
    auto fn = std::move(s->fn);
    fn();
}

} // namespace platform::audio::pulse
