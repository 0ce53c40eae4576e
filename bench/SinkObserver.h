#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/thread-mainloop.h>
#include <string>

// Watches one sink from a client of its own and notes when the server's next event came, when
// the sink was muted and when it was back at the expected volume and unmuted, by the time the
// server's change events arrived.
class SinkObserver {
public:
    using Clock = std::chrono::steady_clock;

    struct Seen {
        // The first server event after arming: when a switch reaches clients.
        std::optional<Clock::time_point> told;
        std::optional<Clock::time_point> muted;
        std::optional<Clock::time_point> restored;
    };

    explicit SinkObserver(const std::string& server);
    ~SinkObserver();
    SinkObserver(const SinkObserver&) = delete;
    SinkObserver& operator=(const SinkObserver&) = delete;

    // Watches the sink from now on, for the volume it has to end at.
    void arm(const std::string& sink, float volume);
    // Waits until the sink was seen restored or the deadline passed.
    Seen wait(std::chrono::milliseconds deadline);

private:
    struct LoopDeleter {
        void operator()(pa_threaded_mainloop* loop) const;
    };
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* self);
    static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void onIndex(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void onState(pa_context* context, void* self);

    std::unique_ptr<pa_threaded_mainloop, LoopDeleter> loop_;
    pa_context* context_ = nullptr;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint32_t index_ = PA_INVALID_INDEX;
    float volume_ = 0;
    // The sink was already at the volume to end at when armed: only a change after the mute
    // shows the restore then.
    bool startedThere_ = true;
    int changes_ = 0;
    Clock::time_point lastChange_;
    Seen seen_;
};
