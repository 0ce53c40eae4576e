#pragma once

#include "platform/audio/AudioObject.h"

#include <cstdint>
#include <optional>
#include <set>
#include <utility>

namespace platform::audio {

// One telling of the system object's listeners that the default output may have changed, on
// the notification thread, for as long as the object lives. It marks the listeners told, so
// that events from now on make the next delivery due; pins the default output on the first
// ask; and holds back the server queries that events call for until it ends.
class Delivery {
public:
    // A question about one object of the server: its kind of object (a sink, a stream) and index.
    using Query = std::pair<std::uint32_t, std::uint32_t>;

    // What a backend gives a delivery to work with.
    class Source {
    public:
        // The default output a call on the notification thread acts on: during a delivery, the
        // one it pinned.
        std::optional<AudioDeviceID> defaultOutputToActOn();
        // The delivery that runs now, if any.
        Delivery* delivery() const { return delivery_; }

    protected:
        ~Source() = default;

    private:
        friend class Delivery;

        // Events from now on make another delivery due.
        virtual void markTold() = 0;
        virtual std::optional<AudioDeviceID> liveDefaultOutput() const = 0;
        virtual bool hasOutput(AudioDeviceID device) const = 0;
        // A query that waited for the end of the delivery.
        virtual void sendQuery(const Query&) {}

        Delivery* delivery_ = nullptr;
    };

    explicit Delivery(Source& source);
    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // A listener sees one default output from its first question to its end. A restore split
    // over two outputs would leave the first one muted, or give it the other one's volume; a
    // change in between has a delivery of its own. Only an output that went away is replaced.
    std::optional<AudioDeviceID> defaultOutput();
    // Its answer would only queue up at the server behind the listeners' writes.
    void deferQuery(const Query& query) { deferredQueries_.insert(query); }
    // For a lost connection: there is nobody left to ask.
    void dropDeferredQueries() { deferredQueries_.clear(); }

private:
    Source& source_;
    std::optional<AudioDeviceID> pinned_;
    std::set<Query> deferredQueries_;
};

} // namespace platform::audio
