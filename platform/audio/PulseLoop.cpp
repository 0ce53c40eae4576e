#include "platform/audio/PulseLoop.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform::audio::pulse {

PulseLoop::PulseLoop() : loop_(pa_mainloop_new()), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    wakeEvent_ = api()->io_new(api(), wakeFd_, PA_IO_EVENT_INPUT, onWake, this);
}

PulseLoop::~PulseLoop() {
    stop();
    api()->io_free(wakeEvent_);
    pa_mainloop_free(loop_);
    close(wakeFd_);
}

void PulseLoop::start(std::function<void()> betweenIterations) {
    betweenIterations_ = std::move(betweenIterations);
    thread_.start();
}

void PulseLoop::stop() {
    thread_.stop();
}

void PulseLoop::wake() {
    std::uint64_t one = 1;
    // A full counter already wakes the loop; nothing is lost when this write fails.
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}

void PulseLoop::onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void*) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto drained = read(fd, &count, sizeof count);
}

void PulseLoop::turn() {
    betweenIterations_();
    if (!thread_.stopping()) {
        iterate();
    }
}

} // namespace platform::audio::pulse
