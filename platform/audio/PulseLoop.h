#pragma once

#include "platform/audio/TaskThread.h"

#include <functional>
#include <pulse/mainloop.h>

namespace platform::audio::pulse {

// A libpulse main loop on a thread of its own: everything that touches libpulse runs there.
// Other threads hand their work over with call() and wait for it.
class PulseLoop {
public:
    PulseLoop();
    ~PulseLoop();
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    pa_mainloop_api* api() const { return pa_mainloop_get_api(loop_); }

    // Starts the thread. betweenIterations runs on it after every iteration of the loop, never
    // inside a libpulse callback.
    void start(std::function<void()> betweenIterations);
    // Runs the rest of the handed-over work and ends the thread; not from the thread itself.
    void stop();

    bool onLoopThread() const { return thread_.onThread(); }

    // Runs the work on the loop thread and returns when it is done; on the loop thread, at once.
    void call(const std::function<void()>& work) { thread_.call(work); }

    // For work on the loop thread that waits for the server: one iteration of the loop, which
    // blocks until an event, an answer, a timer or wake() comes.
    void iterate() { pa_mainloop_iterate(loop_, 1, nullptr); }
    // Makes the loop thread look at its state again, from any thread.
    void wake();

private:
    static void onWake(pa_mainloop_api* api, pa_io_event* event, int fd, pa_io_event_flags_t flags,
                       void* self);
    void turn();

    pa_mainloop* loop_;
    // Not pa_mainloop_wakeup(): each iteration begins by emptying the loop's own wake-up pipe, so
    // a wake-up sent between two iterations would be lost and a handed-over call would wait for
    // the next event. A count in an eventfd stays until the loop has read it.
    int wakeFd_;
    pa_io_event* wakeEvent_ = nullptr;
    std::function<void()> betweenIterations_;
    TaskThread thread_{[this] { turn(); }, [this] { wake(); }};
};

} // namespace platform::audio::pulse
