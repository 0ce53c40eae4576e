#include "platform/audio/TaskThread.h"

namespace platform::audio {

TaskThread::TaskThread(std::function<void()> turn, std::function<void()> wake)
    : turn_(std::move(turn)), wake_(std::move(wake)) {}

void TaskThread::start() {
    thread_ = std::thread([this] { run(); });
}

void TaskThread::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake_();
        thread_.join();
    }
}

void TaskThread::call(const std::function<void()>& work) {
    if (onThread() || !thread_.joinable()) {
        work();
        return;
    }
    Task task{work};
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(&task);
    }
    wake_();
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return task.done; });
}

void TaskThread::run() {
    for (;;) {
        bool stopping = stopping_;
        // Handed-over work runs here, between turns, and never in the middle of other work
        // that waits for the server.
        while (runTask()) {
        }
        if (stopping) {
            return;
        }
        turn_();
    }
}

bool TaskThread::runTask() {
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

} // namespace platform::audio
