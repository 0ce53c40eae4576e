#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/thread-mainloop.h>
#include <string>
#include <vector>

namespace sonvela::test {

// A small synchronous client of a PulseAudio or PipeWire server, for tests: it looks at sinks
// and changes them the way any other program of the session would. Every call waits for the
// server's answer.
class PulseClient {
public:
    struct SinkState {
        float volume; // the largest channel over PA_VOLUME_NORM, not capped
        bool muted;
    };

    // Connects to the server ("unix:/path/to/socket"); throws std::runtime_error when it does
    // not answer.
    explicit PulseClient(const std::string& server);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Connects once; nullptr when the server does not answer.
    static std::unique_ptr<PulseClient> tryConnect(const std::string& server);

    bool connected();
    // The server's text for the last failure.
    std::string lastError();
    std::optional<SinkState> sink(const std::string& name);
    std::vector<std::string> sinkNames();
    // Empty when the server has no default sink or cannot be asked.
    std::string defaultSink();

    bool setDefaultSink(const std::string& name);
    // Sets every channel to the fraction.
    bool setVolume(const std::string& name, float fraction);
    bool setMute(const std::string& name, bool muted);

    // Counts the server's change events of the sink from now on.
    bool watch(const std::string& name);
    int changesSeen() const { return changes_; }

private:
    struct Request;
    struct LoopDeleter {
        void operator()(pa_threaded_mainloop* loop) const;
    };
    struct ContextDeleter {
        void operator()(pa_context* context) const;
    };

    PulseClient() = default;
    bool connect(const std::string& server);
    bool finish(pa_operation* operation);
    // With the loop locked: the sink's state, channels and index; false when there is none.
    bool lookUp(const std::string& name, Request& info);

    static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* userdata);
    static void onServer(pa_context* context, const pa_server_info* info, void* userdata);
    static void onSuccess(pa_context* context, int success, void* userdata);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* self);

    std::unique_ptr<pa_threaded_mainloop, LoopDeleter> loop_;
    std::unique_ptr<pa_context, ContextDeleter> context_;
    std::atomic<std::uint32_t> watched_ = PA_INVALID_INDEX;
    std::atomic<int> changes_ = 0;
};

} // namespace sonvela::test
