#pragma once

#include "platform/audio/Context.h"
#include "platform/audio/DefaultSinkProbe.h"
#include "platform/audio/Delivery.h"
#include "platform/audio/Operation.h"
#include "platform/audio/PulseLoop.h"
#include "platform/audio/ServerMirror.h"
#include "platform/audio/Timer.h"

#include <memory>
#include <pulse/context.h>

namespace platform::audio::pulse {

// The one connection to the sound server, on the loop's thread: it keeps the mirror up to date
// from the server's events and makes the connection again by itself when it is lost, with a
// back-off and without a limit. A delivery runs on what it knows.
class PulseConnection : public Delivery::Source {
public:
    explicit PulseConnection(PulseLoop& loop);
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    void connect();
    // Whether the first attempt has come to an end: connected and the server read, or failed.
    bool firstAttemptDone() const {
        return firstAttemptDone_ || (mirror_.isConnected() && mirror_.pendingQueries() == 0);
    }

    ServerMirror& mirror() { return mirror_; }
    pa_context* context() const { return context_.get(); }
    // The server's text for the last failure.
    const char* lastError() const;

private:
    void markTold() override { mirror_.markTold(); }
    std::optional<AudioDeviceID> liveDefaultOutput() const override;
    bool hasOutput(AudioDeviceID device) const override;
    void sendQuery(const Delivery::Query& query) override;

    static void onStateChanged(pa_context* context, void* self);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    template <typename Info, void (ServerMirror::*take)(const Info&)>
    static void onInfo(pa_context* context, const Info* info, int eol, void* self);

    void ready();
    void failed();
    void event(pa_subscription_event_type_t type, std::uint32_t index);
    void removed(std::uint32_t facility, std::uint32_t index);
    // Asks now, or after the delivery that runs.
    void query(const Delivery::Query& query);
    void askChainStreams();
    void watchPendingChain();
    void ask(Operation operation, const char* function);
    void answered();
    void askServer();
    void askSink(std::uint32_t index);
    void askForSecondOpinion();
    void stopWaitingForLateAnswers();
    void secondOpinion(const std::optional<std::string>& defaultSink);

    PulseLoop& loop_;
    Context context_;
    ServerMirror mirror_;
    Timer reconnectTimer_{loop_.api()};
    Timer settleTimer_{loop_.api()};
    Timer lateTimer_{loop_.api()};
    Timer chainTimer_{loop_.api()};
    std::unique_ptr<DefaultSinkProbe> probe_;
    int backoffMs_ = 0;
    int chainBackoffMs_ = 0;
    bool wasReady_ = false;
    enum class Logged { Nothing, Waiting, Lost } logged_ = Logged::Nothing;
    bool firstAttemptDone_ = false;
};

} // namespace platform::audio::pulse
