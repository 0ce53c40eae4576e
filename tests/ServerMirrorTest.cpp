#include "platform/audio/ServerMirror.h"

#include <gtest/gtest.h>

#include <memory>
#include <pulse/proplist.h>
#include <string>

using platform::audio::pulse::ServerMirror;

namespace {

// A hand-made sink as the server describes it: a form factor, or an active port of a type.
class SinkInfo {
public:
    SinkInfo(std::uint32_t index, const char* name, const char* formFactor, int portType = -1,
             float volume = 0.5f, bool muted = false)
        : props_(pa_proplist_new(), pa_proplist_free) {
        pa_proplist_sets(props_.get(), PA_PROP_DEVICE_FORM_FACTOR, formFactor);
        port_.name = portType == PA_DEVICE_PORT_TYPE_HEADPHONES ? "analog-headphones" : "port";
        port_.type = std::uint32_t(portType < 0 ? 0 : portType);
        info_.index = index;
        info_.name = name;
        info_.proplist = props_.get();
        info_.active_port = portType < 0 ? nullptr : &port_;
        pa_cvolume_set(&info_.volume, 2, pa_volume_t(volume * PA_VOLUME_NORM));
        info_.mute = muted;
    }
    operator const pa_sink_info&() const { return info_; }

private:
    std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> props_;
    pa_sink_port_info port_{};
    pa_sink_info info_{};
};

const SinkInfo kSpeakers{1, "speakers", "internal"};
const SinkInfo kPhones{2, "phones", "headphone"};

// A connection made and the server read, as the layer does it: every answer asked for.
class Mirror : public testing::Test {
protected:
    void SetUp() override {
        mirror.connected();
        serverSays("speakers");
        mirror.asked();
        mirror.sinkInfo(kSpeakers);
        mirror.sinkInfo(kPhones);
        mirror.answered();
    }

    void serverSays(const char* defaultSink) {
        pa_server_info info{};
        info.default_sink_name = defaultSink;
        mirror.asked();
        mirror.serverInfo(info);
        mirror.answered();
    }
    void sinkSays(const pa_sink_info& info) {
        mirror.asked();
        mirror.sinkInfo(info);
        mirror.answered();
    }
    // Whether listeners are told now; they are marked told if so.
    bool tells() {
        bool due = mirror.listenersDue();
        if (due) {
            mirror.markTold();
        }
        return due;
    }
    std::string kind() {
        std::uint32_t code = mirror.sink(*mirror.defaultSink())->outputType;
        return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    }

    ServerMirror mirror;
};

TEST_F(Mirror, AConnectionIsToldOnceTheServerIsRead) {
    EXPECT_TRUE(tells());
    EXPECT_FALSE(tells());
    EXPECT_EQ(kind(), "ispk");

    mirror.lost();
    EXPECT_FALSE(mirror.defaultSink());
    EXPECT_FALSE(tells());
    // Back with the same output as before: told all the same.
    SetUp();
    EXPECT_TRUE(tells());
}

TEST_F(Mirror, ADefaultSwitchIsToldWhenItsAnswerCame) {
    tells();
    mirror.asked();
    EXPECT_FALSE(tells());
    pa_server_info info{};
    info.default_sink_name = "phones";
    mirror.serverInfo(info);
    EXPECT_FALSE(tells()) << "before the answer is complete";
    mirror.answered();
    EXPECT_TRUE(tells());
    EXPECT_EQ(kind(), "hdpn");
}

TEST_F(Mirror, EveryOutputOfABurstCounts) {
    tells();
    // Told of the headphones; while that delivery runs the default goes and comes back.
    serverSays("phones");
    EXPECT_TRUE(tells());
    serverSays("speakers");
    serverSays("phones");
    EXPECT_TRUE(tells());
    EXPECT_FALSE(tells());
    EXPECT_EQ(kind(), "hdpn");
}

TEST_F(Mirror, VolumeAndMuteAloneAreNeverTold) {
    tells();
    sinkSays(SinkInfo{1, "speakers", "internal", -1, 0.9f, true});
    mirror.volumeWritten(1, {});
    mirror.muteWritten(1, false);
    EXPECT_FALSE(tells());
    EXPECT_FALSE(mirror.sink(1)->muted);
}

TEST_F(Mirror, APortChangeOfTheDefaultSinkIsToldAndTheKindFollowsIt) {
    const SinkInfo laptop{3, "analog", "internal", PA_DEVICE_PORT_TYPE_SPEAKER};
    const SinkInfo plugged{3, "analog", "internal", PA_DEVICE_PORT_TYPE_HEADPHONES};
    sinkSays(laptop);
    serverSays("analog");
    tells();
    EXPECT_EQ(kind(), "ispk");

    sinkSays(plugged);
    EXPECT_TRUE(tells());
    EXPECT_FALSE(tells());
    EXPECT_EQ(kind(), "hdpn");
}

TEST_F(Mirror, ABluetoothSinkThatAppearsAndBecomesTheDefault) {
    tells();
    mirror.sinkAppeared();
    SinkInfo bluetooth{7, "bluez", "headphone", PA_DEVICE_PORT_TYPE_BLUETOOTH};
    sinkSays(bluetooth);
    EXPECT_TRUE(tells()) << "a sink came";
    serverSays("bluez");
    EXPECT_TRUE(tells());
    EXPECT_EQ(kind(), "blth");
}

TEST_F(Mirror, AProfileSwitchIsToldOnceTheNewDefaultIsKnown) {
    serverSays("phones");
    tells();
    // Remove, new and server change: no default in between, so nothing to act on.
    mirror.sinkRemoved(2);
    EXPECT_FALSE(tells());
    mirror.sinkAppeared();
    sinkSays(SinkInfo{9, "hdmi", "tv"});
    EXPECT_FALSE(tells());
    serverSays("hdmi");
    EXPECT_TRUE(tells());
    EXPECT_FALSE(tells());
    EXPECT_EQ(kind(), "hdmi");
}

TEST_F(Mirror, AFailedOrLostAnswerHoldsNothingBackForGood) {
    tells();
    mirror.asked();
    mirror.answered(); // failed: no data came with it
    serverSays("phones");
    EXPECT_TRUE(tells());

    mirror.asked(); // never answered
    serverSays("speakers");
    EXPECT_FALSE(tells());
    mirror.stopWaitingForAnswers();
    EXPECT_TRUE(tells());
    mirror.answered(); // the late answer after all
    EXPECT_EQ(mirror.pendingQueries(), 0);
}

// PipeWire 0.3 can leave a connection that was new when the default changed with the old
// default for good, and send it no event: only a newcomer sees the change.
TEST_F(Mirror, ANewcomerThatSeesAnotherDefaultShowsOursIsOutOfDate) {
    tells();
    EXPECT_FALSE(mirror.outOfDate("speakers"));
    EXPECT_TRUE(mirror.outOfDate("phones"));
    mirror.asked();
    EXPECT_FALSE(mirror.outOfDate("phones")) << "an answer on its way may bring ours up to date";
    mirror.answered();
    mirror.lost();
    EXPECT_FALSE(mirror.outOfDate("phones"));
}

} // namespace
