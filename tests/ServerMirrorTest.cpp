#include "platform/audio/ServerMirror.h"

#include <gtest/gtest.h>

#include <memory>
#include <pulse/proplist.h>
#include <string>
#include <vector>

using platform::audio::pulse::ServerMirror;

namespace {

constexpr std::uint32_t kNone = PA_INVALID_INDEX;
// Each hand-made sink's monitor source: its index plus this.
constexpr std::uint32_t kMonitor = 1000;

using Proplist = std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)>;

Proplist properties(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    Proplist props(pa_proplist_new(), pa_proplist_free);
    for (const auto& [key, value] : pairs) {
        if (value) {
            pa_proplist_sets(props.get(), key, value);
        }
    }
    return props;
}

// How a hand-made sink is tied to others: the module that owns it, its link group, its master
// device, and whether it is virtual or EasyEffects' own.
struct Ties {
    std::uint32_t module = kNone;
    const char* group = nullptr;
    const char* master = nullptr;
    bool easyEffects = false;
};

// A hand-made sink as the server describes it: a form factor, or an active port of a type.
class SinkInfo {
public:
    SinkInfo(std::uint32_t index, const char* name, const char* formFactor, int portType = -1,
             float volume = 0.5f, bool muted = false, Ties ties = {})
        : props_(properties({{PA_PROP_DEVICE_FORM_FACTOR, formFactor},
                             {"node.link-group", ties.group},
                             {PA_PROP_DEVICE_MASTER_DEVICE, ties.master},
                             {"node.virtual", ties.easyEffects || ties.group ? "true" : nullptr},
                             {PA_PROP_APPLICATION_ID,
                              ties.easyEffects ? "com.github.wwmm.easyeffects" : nullptr}})) {
        port_.name = portType == PA_DEVICE_PORT_TYPE_HEADPHONES ? "analog-headphones" : "port";
        port_.type = std::uint32_t(portType < 0 ? 0 : portType);
        info_.index = index;
        info_.name = name;
        info_.proplist = props_.get();
        info_.active_port = portType < 0 ? nullptr : &port_;
        pa_cvolume_set(&info_.volume, 2, pa_volume_t(volume * PA_VOLUME_NORM));
        info_.mute = muted;
        info_.owner_module = ties.module;
        info_.monitor_source = index + kMonitor;
    }
    SinkInfo(std::uint32_t index, const char* name, Ties ties)
        : SinkInfo(index, name, nullptr, -1, 0.5f, false, ties) {}
    operator const pa_sink_info&() const { return info_; }

private:
    Proplist props_;
    pa_sink_port_info port_{};
    pa_sink_info info_{};
};

// A hand-made stream that may carry a chain on: one that plays into a sink, or one that records
// a source (a sink's monitor).
struct StreamSpec {
    std::uint32_t index;
    bool records;
    std::uint32_t target;
    std::uint32_t module = kNone;
    const char* group = nullptr;
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
    void streamSays(const StreamSpec& stream) {
        Proplist props = properties({{"node.link-group", stream.group}});
        mirror.asked();
        auto fill = [&](auto& info) {
            info.index = stream.index;
            info.owner_module = stream.module;
            info.proplist = props.get();
        };
        if (stream.records) {
            pa_source_output_info info{};
            fill(info);
            info.source = stream.target;
            mirror.sourceOutputInfo(info);
        } else {
            pa_sink_input_info info{};
            fill(info);
            info.sink = stream.target;
            mirror.sinkInputInfo(info);
        }
        mirror.answered();
    }
    std::string outputName() {
        auto output = mirror.defaultOutput();
        return output ? mirror.sink(*output)->name : "none";
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
        std::uint32_t code = mirror.outputTypeOf(*mirror.defaultOutput());
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

// A sink of a scene, how it is tied to the others.
struct SceneSink {
    std::uint32_t index;
    const char* name;
    const char* formFactor;
    Ties ties;
};

// Sinks besides the speakers (1) and the headphones (2), the streams, the defaults set one after
// the other, and where the sound of the last one ends: the sink and its kind.
struct ChainCase {
    const char* name;
    std::vector<SceneSink> sinks;
    std::vector<StreamSpec> streams;
    std::vector<const char*> defaults;
    const char* reached;
    const char* kind;
};

void PrintTo(const ChainCase& c, std::ostream* os) {
    *os << c.name;
}

class Chain : public Mirror, public testing::WithParamInterface<ChainCase> {
protected:
    void scene(const std::vector<SceneSink>& sinks, const std::vector<StreamSpec>& streams) {
        for (const SceneSink& sink : sinks) {
            sinkSays(SinkInfo{sink.index, sink.name, sink.formFactor, -1, 0.5f, false, sink.ties});
        }
        for (const StreamSpec& stream : streams) {
            streamSays(stream);
        }
    }
};

TEST_P(Chain, TheOutputIsWhereTheSoundOfTheDefaultEnds) {
    const ChainCase& c = GetParam();
    scene(c.sinks, c.streams);
    for (const char* name : c.defaults) {
        serverSays(name);
    }
    EXPECT_TRUE(tells());
    EXPECT_EQ(outputName(), c.reached);
    EXPECT_EQ(kind(), c.kind);
    EXPECT_EQ(mirror.sink(*mirror.defaultSink())->name, c.defaults.back());
}

const Ties kEffects{kNone, nullptr, nullptr, true};
const SceneSink kRemap{10, "remap", nullptr, {7}};
const SceneSink kEqualizer{11, "eq", nullptr, {kNone, "fc"}};
const SceneSink kCombine{15, "combine", nullptr, {10}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scenes, Chain, testing::Values(
    ChainCase{"ANullSinkIsItsOwnOutput", {}, {}, {"phones"}, "phones", "hdpn"},
    ChainCase{"OwnerModule", {kRemap}, {{50, false, 2, 7}}, {"remap"}, "phones", "hdpn"},
    ChainCase{"LinkGroup", {kEqualizer}, {{51, false, 2, kNone, "fc"}}, {"eq"}, "phones", "hdpn"},
    ChainCase{"TwoHops", {kRemap, kEqualizer}, {{50, false, 11, 7}, {51, false, 2, kNone, "fc"}},
              {"remap"}, "phones", "hdpn"},
    ChainCase{"LoopbackFromTheMonitor", {{12, "fx", nullptr, {8}}},
              {{60, true, 12 + kMonitor, 9}, {52, false, 2, 9}}, {"fx"}, "phones", "hdpn"},
    ChainCase{"ARecorderOfTheMonitorIsNoChain", {}, {{61, true, 2 + kMonitor}, {53, false, 1}},
              {"phones"}, "phones", "hdpn"},
    ChainCase{"MasterDevice", {{13, "vsink", nullptr, {kNone, nullptr, "phones"}}}, {},
              {"vsink"}, "phones", "hdpn"},
    ChainCase{"MasterDeviceStaleAfterAMove", {{13, "vsink", nullptr, {5, nullptr, "phones"}}},
              {{54, false, 1, 5}}, {"vsink"}, "speakers", "ispk"},
    ChainCase{"EasyEffects", {{14, "ee", nullptr, kEffects}}, {}, {"phones", "ee"},
              "phones", "hdpn"},
    ChainCase{"EasyEffectsSkipsVirtualDefaults", {{14, "ee", nullptr, kEffects}, kEqualizer},
              {{51, false, 2, kNone, "fc"}}, {"speakers", "eq", "ee"}, "speakers", "ispk"},
    ChainCase{"CombineOfOneKind", {kCombine, {16, "phones2", "headphone", {}}},
              {{55, false, 2, 10}, {56, false, 16, 10}}, {"combine"}, "combine", "hdpn"},
    ChainCase{"CombineOfTwoKinds", {kCombine, {17, "tv", "tv", {}}},
              {{55, false, 2, 10}, {56, false, 17, 10}}, {"combine"}, "combine", "othr"},
    ChainCase{"ALoopIsTheDefaultOfNoKind", {{20, "a", "headphone", {11}}, {21, "b", nullptr, {12}}},
              {{57, false, 21, 11}, {58, false, 20, 12}}, {"a"}, "a", "othr"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(Chain, OverTheHopLimitIsTheDefaultOfNoKind) {
    const char* names[] = {"s0", "s1", "s2", "s3", "s4", "s5"};
    for (std::uint32_t i = 0; i < 6; ++i) {
        sinkSays(SinkInfo{30 + i, names[i], "headphone", -1, 0.5f, false, Ties{40 + i}});
        if (i < 5) {
            streamSays({60 + i, false, 31 + i, 40 + i});
        }
    }
    serverSays("s1");
    EXPECT_EQ(outputName(), "s5") << "four hops are followed";
    EXPECT_EQ(kind(), "hdpn");
    serverSays("s0");
    EXPECT_EQ(outputName(), "s0");
    EXPECT_EQ(kind(), "othr");
}

TEST_F(Chain, ACombineOfCombinesOfTooManySinksIsTheDefaultOfNoKind) {
    // 1 + 8 + 64 sinks: a tree that would take long to walk on every event.
    std::uint32_t stream = 500;
    sinkSays(SinkInfo{100, "top", Ties{200}});
    for (std::uint32_t i = 0; i < 8; ++i) {
        sinkSays(SinkInfo{101 + i, "mid", Ties{201 + i}});
        streamSays({stream++, false, 101 + i, 200});
        for (std::uint32_t j = 0; j < 8; ++j) {
            sinkSays(SinkInfo{200 + 8 * i + j, "leaf", "headphone"});
            streamSays({stream++, false, 200 + 8 * i + j, 201 + i});
        }
    }
    serverSays("top");
    EXPECT_EQ(outputName(), "top");
    EXPECT_EQ(kind(), "othr");
}

// Started with EasyEffects as the default, there is no last plain default to go by.
TEST(ChainAtStart, EasyEffectsPlaysIntoTheOnlySinkThatIsNoEffectsSink) {
    ServerMirror mirror;
    mirror.connected();
    pa_server_info server{};
    server.default_sink_name = "ee";
    mirror.serverInfo(server);
    mirror.sinkInfo(SinkInfo{14, "ee", kEffects});
    mirror.sinkInfo(kPhones);
    EXPECT_EQ(mirror.defaultOutput(), 2u);
    mirror.sinkInfo(kSpeakers);
    EXPECT_EQ(mirror.defaultOutput(), 14u) << "two sinks it may play into: nothing to go by";
}

TEST_F(Chain, AJackPlugBehindAFilterIsToldOnce) {
    sinkSays(SinkInfo{3, "analog", "internal", PA_DEVICE_PORT_TYPE_SPEAKER});
    scene({kRemap}, {{50, false, 3, 7}});
    serverSays("remap");
    tells();
    EXPECT_EQ(kind(), "ispk");

    sinkSays(SinkInfo{3, "analog", "internal", PA_DEVICE_PORT_TYPE_HEADPHONES});
    EXPECT_TRUE(tells());
    EXPECT_FALSE(tells());
    EXPECT_EQ(outputName(), "analog");
    EXPECT_EQ(kind(), "hdpn");
    EXPECT_EQ(mirror.sink(*mirror.defaultSink())->name, "remap");
}

TEST_F(Chain, AStreamBetweenSinksIsToldOnceItHasLanded) {
    scene({kRemap}, {{50, false, 1, 7}});
    serverSays("remap");
    tells();
    EXPECT_EQ(mirror.chainStreams(), std::vector<std::uint32_t>{50});

    streamSays({50, false, kNone, 7});
    EXPECT_TRUE(mirror.chainPending());
    EXPECT_FALSE(tells());
    EXPECT_EQ(outputName(), "speakers") << "reads keep to where it was";
    streamSays({50, false, 2, 7});
    EXPECT_TRUE(tells());
    EXPECT_FALSE(tells());
    EXPECT_EQ(outputName(), "phones");

    // Back where it was: nothing changed.
    streamSays({50, false, kNone, 7});
    streamSays({50, false, 2, 7});
    EXPECT_FALSE(tells());
    // Into a sink whose answer has not come yet.
    streamSays({50, false, 9, 7});
    EXPECT_FALSE(tells());
    sinkSays(SinkInfo{9, "usb", "headset"});
    EXPECT_TRUE(tells());
    EXPECT_EQ(kind(), "hdst");
}

TEST_F(Chain, ALoopbacksStreamThatReportsItselfAgainStartsNothing) {
    scene({{12, "fx", nullptr, {8}}}, {{60, true, 12 + kMonitor, 9}, {52, false, 2, 9}});
    serverSays("fx");
    tells();
    for (int second = 0; second < 5; ++second) {
        streamSays({52, false, 2, 9});
        streamSays({60, true, 12 + kMonitor, 9});
        EXPECT_FALSE(tells());
    }
}

TEST_F(Chain, ASinkRemovedMidChainWaitsForWhereTheStreamGoes) {
    scene({kRemap}, {{50, false, 2, 7}});
    serverSays("remap");
    tells();
    mirror.sinkRemoved(2);
    EXPECT_FALSE(tells());
    EXPECT_EQ(outputName(), "none") << "never a sink that is gone";
    streamSays({50, false, 1, 7});
    EXPECT_TRUE(tells());
    EXPECT_EQ(outputName(), "speakers");
    // The effects sink goes too, its stream first: it is its own output until it is gone.
    mirror.sinkInputRemoved(50);
    mirror.sinkRemoved(10);
    EXPECT_EQ(outputName(), "none");
}

} // namespace
