#pragma once

#include <atomic>
#include <functional>
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
    struct Sink {
        std::string name;
        std::uint32_t index;
        float volume; // the largest channel over PA_VOLUME_NORM, not capped
        bool muted;
        std::string linkGroup; // PipeWire's node.link-group; empty elsewhere
    };
    // A playback stream (sink input) and what ties it to the module or filter that made it.
    struct Stream {
        std::uint32_t index;
        std::uint32_t sink;   // PA_INVALID_INDEX while it plays into nothing
        std::uint32_t client; // PA_INVALID_INDEX for a stream a module made
        std::string linkGroup;
        // PipeWire's own id of the stream's node, which its tools take: pipewire-pulse's
        // indexes are other numbers. Empty elsewhere.
        std::string node;
    };

    // Connects to the server ("unix:/path/to/socket"); nullptr when it does not answer.
    static std::unique_ptr<PulseClient> tryConnect(const std::string& server);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    bool connected();
    std::optional<Sink> sink(const std::string& name);
    std::vector<Sink> sinks();
    // Empty when the server has no default sink or cannot be asked.
    std::string defaultSink();

    bool setDefaultSink(const std::string& name);
    // Sets both channels of the sink (or stream) to the fraction.
    bool setVolume(const std::string& name, float fraction);
    bool setMute(const std::string& name, bool muted);

    std::vector<Stream> streams();
    bool moveStream(std::uint32_t index, const std::string& sink);
    bool setStreamVolume(std::uint32_t index, float fraction);

    // Counts the server's change events of the sink from now on.
    bool watch(const std::string& name);
    int changesSeen() const { return changes_; }

    // What the callbacks of one operation hand back.
    struct Reply {
        pa_threaded_mainloop* loop = nullptr;
        bool succeeded = false;
        std::vector<Sink> sinks;
        std::vector<Stream> streams;
        std::string defaultSink;
    };

private:
    PulseClient() = default;
    // Starts an operation with the loop locked and waits for it to end.
    Reply run(const std::function<pa_operation*(pa_context*, Reply&)>& start);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<std::uint32_t> watched_ = PA_INVALID_INDEX;
    std::atomic<int> changes_ = 0;
};

} // namespace sonvela::test
