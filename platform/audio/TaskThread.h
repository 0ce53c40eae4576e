#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform::audio {

// The thread a backend owns, and the work other threads hand to it. The thread takes turns at
// its own loop (waiting for the server, calling the listeners); handed-over work runs between
// turns, one piece at a time, and its caller waits until it is done. So nothing another thread
// asks for runs in the middle of a delivery, whichever backend is installed.
class TaskThread {
public:
    // turn: one round of the thread's own loop. It may block until wake, which any thread may
    // call, makes it return.
    TaskThread(std::function<void()> turn, std::function<void()> wake);
    ~TaskThread() { stop(); }
    TaskThread(const TaskThread&) = delete;
    TaskThread& operator=(const TaskThread&) = delete;

    void start();
    // Runs the rest of the handed-over work and ends the thread; not from the thread itself.
    void stop();
    bool stopping() const { return stopping_; }
    bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Runs the work on the thread and returns when it is done; on the thread itself, or while
    // the thread does not run, at once.
    void call(const std::function<void()>& work);

private:
    struct Task {
        const std::function<void()>& work;
        bool done = false;
    };

    void run();
    bool runTask();

    std::function<void()> turn_;
    std::function<void()> wake_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Task*> tasks_;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

} // namespace platform::audio
