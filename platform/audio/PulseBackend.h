#pragma once

#include "platform/audio/Backend.h"

#include <map>
#include <memory>
#include <optional>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/thread-mainloop.h>
#include <string>
#include <tuple>

namespace platform::audio {

// The audio layer on a PulseAudio or PipeWire (pipewire-pulse) server. A mirror of the server's
// sinks and default sink is kept up to date from its events on the libpulse loop thread; reads
// answer from the mirror, writes go to the server and wait for its answer. A lost connection
// is made again by itself, with a back-off and without a limit.
class PulseBackend : public Backend {
public:
    PulseBackend();
    ~PulseBackend() override;
    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    OSStatus getProperty(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                         std::uint32_t& size, void* data) override;
    OSStatus setProperty(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                         std::uint32_t size, const void* data) override;

private:
    struct Sink {
        std::string name;
        std::uint32_t outputType = 0;
        pa_cvolume volume{};
        bool muted = false;
        std::string activePort;
    };
    // What decides the volume: which sink is the default, its kind and its active port.
    using Output = std::tuple<std::uint32_t, std::uint32_t, std::string>;

    struct LoopDeleter {
        void operator()(pa_threaded_mainloop* loop) const;
    };
    struct ContextDeleter {
        void operator()(pa_context* context) const;
    };

    static void contextStateCallback(pa_context* context, void* self);
    static void subscribeCallback(pa_context* context, pa_subscription_event_type_t type,
                                  std::uint32_t index, void* self);
    static void serverInfoCallback(pa_context* context, const pa_server_info* info, void* self);
    static void sinkInfoCallback(pa_context* context, const pa_sink_info* info, int eol,
                                 void* self);
    static void sinkListCallback(pa_context* context, const pa_sink_info* info, int eol,
                                 void* self);
    static void reconnectCallback(pa_mainloop_api* api, pa_time_event* event,
                                  const struct timeval* when, void* self);
    static void settleCallback(pa_mainloop_api* api, pa_time_event* event,
                               const struct timeval* when, void* self);
    static OSStatus deliveryStarts(AudioObjectID objectID, std::uint32_t numberAddresses,
                                   const AudioObjectPropertyAddress* addresses, void* self);

    void connect();
    void onContextState();
    void onReady();
    void onConnectionLost();
    void onEvent(pa_subscription_event_type_t type, std::uint32_t index);
    void onServerInfo(const pa_server_info& info);
    void onSinkInfo(const pa_sink_info& info);
    bool startQuery(pa_operation* operation, const char* function);
    pa_time_event* startTimer(int milliseconds, pa_time_event_cb_t callback);
    void stopTimer(pa_time_event*& timer);
    void queryServer();
    void querySink(std::uint32_t index);
    void noteOutput();
    void announce();
    std::optional<Output> currentOutput() const;
    std::optional<std::uint32_t> defaultSinkForCaller() const;

    OSStatus readDevice(std::uint32_t sinkIndex, std::uint32_t selector, std::uint32_t& out);
    OSStatus writeDevice(std::uint32_t sinkIndex, std::uint32_t selector, std::uint32_t value);
    OSStatus waitFor(pa_operation* operation, bool& succeeded, const char* function);

    std::unique_ptr<pa_threaded_mainloop, LoopDeleter> loop_;
    std::unique_ptr<pa_context, ContextDeleter> context_;
    pa_time_event* reconnectTimer_ = nullptr;
    pa_time_event* settleTimer_ = nullptr;
    int backoffMs_ = 0;

    // Everything below belongs to the loop: touched only with the loop lock held.
    bool stopping_ = false;
    bool ready_ = false;
    bool firstAttemptDone_ = false;
    bool lossLogged_ = false;
    int pending_ = 0; // queries not answered yet
    bool forceAnnounce_ = false;
    std::string defaultSinkName_;
    std::map<std::uint32_t, Sink> sinks_;
    std::optional<Output> seen_; // the output the mirror showed last
};

} // namespace platform::audio
