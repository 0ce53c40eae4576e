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
    thread_ = std::thread([this] { run(); });
}

void PulseLoop::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
}

void PulseLoop::call(const std::function<void()>& work) {
    if (onLoopThread() || !thread_.joinable()) {
        work();
        return;
    }
    Task task{work};
    std::unique_lock lock(mutex_);
    tasks_.push_back(&task);
    wake();
    done_.wait(lock, [&] { return task.done; });
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

void PulseLoop::run() {
    for (;;) {
        bool stopping = stopping_;
        // Handed-over work runs here, between iterations, and never in the middle of other
        // work that waits for the server.
        while (runTasks()) {
        }
        if (stopping) {
            return;
        }
        betweenIterations_();
        if (!stopping_) {
            iterate();
        }
    }
}

bool PulseLoop::runTasks() {
    Task* task = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) {
            return false;
        }
        task = tasks_.front();
        tasks_.pop_front();
    }
    task->work();
    {
        std::lock_guard lock(mutex_);
        task->done = true;
    }
    done_.notify_all();
    return true;
}

} // namespace platform::audio::pulse
