#include "platform/audio/ServerMirror.h"

#include "platform/audio/AudioObject.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <pulse/proplist.h>
#include <string>
#include <vector>

using platform::audio::fourCharText;
using platform::audio::pulse::ServerMirror;

namespace {

constexpr std::uint32_t kNone = PA_INVALID_INDEX;

// Something the server says or the layer does, as the layer hands it to the mirror.
using Event = std::function<void(ServerMirror&)>;

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

// A hand-made sink as the server describes it, and answers with: a form factor or an active port
// of a type, and what ties it to others: the module that owns it, its link group (which makes it
// virtual), its master device, being EasyEffects' own.
struct Sink {
    std::uint32_t index;
    std::string name;
    const char* form = nullptr;
    int port = -1;
    std::uint32_t module = kNone;
    const char* group = nullptr;
    const char* master = nullptr;
    bool effects = false;

    void operator()(ServerMirror& mirror) const {
        Proplist props = properties(
            {{PA_PROP_DEVICE_FORM_FACTOR, form},
             {"node.link-group", group},
             {PA_PROP_DEVICE_MASTER_DEVICE, master},
             {"node.virtual", effects || group ? "true" : nullptr},
             {PA_PROP_APPLICATION_ID, effects ? "com.github.wwmm.easyeffects" : nullptr}});
        pa_sink_port_info active{};
        active.type = std::uint32_t(port);
        pa_sink_info info{};
        info.index = index;
        info.name = name.c_str();
        info.proplist = props.get();
        info.active_port = port < 0 ? nullptr : &active;
        info.owner_module = module;
        mirror.asked();
        mirror.sinkInfo(info);
        mirror.answered();
    }
};

// A hand-made sink-input that may carry a chain on, owned by a module or in a link group.
Event plays(std::uint32_t index, std::uint32_t sink, std::uint32_t module = kNone,
            const char* group = nullptr) {
    return [=](ServerMirror& mirror) {
        Proplist props = properties({{"node.link-group", group}});
        pa_sink_input_info info{};
        info.index = index;
        info.sink = sink;
        info.owner_module = module;
        info.proplist = props.get();
        mirror.asked();
        mirror.sinkInputInfo(info);
        mirror.answered();
    };
}

Event defaultIs(const char* name) {
    return [=](ServerMirror& mirror) {
        pa_server_info info{};
        info.default_sink_name = name;
        mirror.asked();
        mirror.serverInfo(info);
        mirror.answered();
    };
}

Event sinkGone(std::uint32_t index) {
    return [=](ServerMirror& mirror) { mirror.sinkRemoved(index); };
}

Event streamGone(std::uint32_t index) {
    return [=](ServerMirror& mirror) { mirror.sinkInputRemoved(index); };
}

const Event kAsk = [](ServerMirror& mirror) { mirror.asked(); };
const Event kAnswer = [](ServerMirror& mirror) { mirror.answered(); };
const Event kStopWaiting = [](ServerMirror& mirror) { mirror.stopWaitingForAnswers(); };
const Event kSinkCame = [](ServerMirror& mirror) { mirror.sinkAppeared(); };

const Sink kSpeakers{.index = 1, .name = "speakers", .form = "internal"};
const Sink kPhones{.index = 2, .name = "phones", .form = "headphone"};
const Sink kRemap{.index = 10, .name = "remap", .module = 7};
const Sink kEqualizer{.index = 11, .name = "eq", .group = "fc"};

// The streams the sound passes through, which the layer asks about again while one of them is
// between sinks.
Event chainIs(std::vector<std::uint32_t> streams, bool pending) {
    return [=](ServerMirror& mirror) {
        EXPECT_EQ(mirror.chainStreams(), streams);
        EXPECT_EQ(mirror.chainPending(), pending);
    };
}

// Sinks s0 to s5 of headphones, each playing into the next.
void chainOfSix(ServerMirror& mirror) {
    for (std::uint32_t i = 0; i < 6; ++i) {
        const std::string name = "s" + std::to_string(i);
        Sink{.index = 30 + i, .name = name, .form = "headphone", .module = 40 + i}(mirror);
        if (i < 5) {
            plays(60 + i, 31 + i, 40 + i)(mirror);
        }
    }
}

// A combine of 64 sinks: more than it is worth walking on every event.
void combineOfMany(ServerMirror& mirror) {
    Sink{.index = 100, .name = "top", .module = 200}(mirror);
    for (std::uint32_t i = 1; i <= 64; ++i) {
        Sink{.index = 100 + i, .name = "leaf", .form = "headphone"}(mirror);
        plays(500 + i, 100 + i, 200)(mirror);
    }
}

// Whether listeners are to be told after a step.
enum Heard { Quiet, Told };

// What happens, then what listeners and readers see: the sink the default sink's sound reaches
// and its kind ("phones hdpn", or "none"), not looked at when null.
struct Step {
    std::vector<Event> events;
    Heard heard = Quiet;
    const char* output = nullptr;
};

// Steps from speakers (1, the default) and headphones (2), a connection that has been told.
struct Scene {
    const char* name;
    std::vector<Step> steps;
    friend void PrintTo(const Scene& scene, std::ostream* os) { *os << scene.name; }
};

class Mirror : public testing::TestWithParam<Scene> {
protected:
    // A connection made and the server read, as the layer does it.
    void SetUp() override {
        mirror.connected();
        defaultIs("speakers")(mirror);
        kSpeakers(mirror);
        kPhones(mirror);
        EXPECT_TRUE(tells()) << "a connection is told once the server is read";
    }

    // Whether listeners are told now; they are marked told if so.
    bool tells() {
        bool due = mirror.listenersDue();
        if (due) {
            mirror.markTold();
        }
        return due;
    }
    std::string output() {
        auto index = mirror.defaultOutput();
        return index ? mirror.sink(*index)->name + " " + fourCharText(mirror.outputTypeOf(*index))
                     : "none";
    }

    ServerMirror mirror;
};

TEST_P(Mirror, ListenersAreToldOfTheOutputTheDefaultsSoundReaches) {
    const std::vector<Step>& steps = GetParam().steps;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        for (const Event& event : steps[i].events) {
            event(mirror);
        }
        EXPECT_EQ(tells(), steps[i].heard == Told);
        if (steps[i].output) {
            EXPECT_EQ(output(), steps[i].output);
        }
    }
    EXPECT_FALSE(tells()) << "each change is told once";
}

// clang-format off
const Scene kScenes[] = {
    {"ADefaultSwitchIsToldWhenItsAnswerCame", {
        {{kAsk}},
        {{defaultIs("phones")}},
        {{kAnswer}, Told, "phones hdpn"}}},
    // Told of the headphones; while that delivery runs the default goes and comes back.
    {"EveryOutputOfABurstCounts", {
        {{defaultIs("phones")}, Told},
        {{defaultIs("speakers"), defaultIs("phones")}, Told, "phones hdpn"}}},
    {"ABluetoothSinkThatAppearsAndBecomesTheDefault", {
        {{kSinkCame, Sink{.index = 7, .name = "bt", .port = PA_DEVICE_PORT_TYPE_BLUETOOTH}}, Told},
        {{defaultIs("bt")}, Told, "bt blth"}}},
    // Remove, new and server change: no default in between, so nothing to act on.
    {"AProfileSwitchIsToldOnceTheNewDefaultIsKnown", {
        {{defaultIs("phones")}, Told},
        {{sinkGone(2)}, Quiet, "none"},
        {{kSinkCame, Sink{.index = 9, .name = "hdmi", .form = "tv"}}},
        {{defaultIs("hdmi")}, Told, "hdmi hdmi"}}},
    {"AFailedOrLostAnswerHoldsNothingBackForGood", {
        {{kAsk, kAnswer, defaultIs("phones")}, Told}, // failed: no data came with it
        {{kAsk, defaultIs("speakers")}},              // never answered
        {{kStopWaiting}, Told},
        {{kAnswer, defaultIs("phones")}, Told}}},     // the late answer after all
    // A jack plug is a port change of the sink behind the effects sink, which stays the default.
    {"AJackPlugBehindAFilter", {
        {{Sink{.index = 3, .name = "analog", .port = PA_DEVICE_PORT_TYPE_SPEAKER}, kRemap,
          plays(50, 3, 7), defaultIs("remap")}, Told, "analog ispk"},
        {{Sink{.index = 3, .name = "analog", .port = PA_DEVICE_PORT_TYPE_HEADPHONES}},
         Told, "analog hdpn"}}},
    {"TwoHopsOfModuleAndLinkGroup", {
        {{kRemap, kEqualizer, plays(50, 11, 7), plays(51, 2, kNone, "fc"), defaultIs("remap")},
         Told, "phones hdpn"}}},
    // It goes stale after a move: a stream of the sink's module says better where it plays.
    {"MasterDeviceWhenNothingElseSays", {
        {{Sink{.index = 13, .name = "vs", .master = "phones"}, defaultIs("vs")},
         Told, "phones hdpn"},
        {{Sink{.index = 13, .name = "vs", .module = 5, .master = "phones"}, plays(54, 1, 5)},
         Told, "speakers ispk"}}},
    {"EasyEffectsSkipsVirtualDefaults", {
        {{Sink{.index = 14, .name = "ee", .effects = true}, kEqualizer, plays(51, 2, kNone, "fc"),
          defaultIs("eq")}, Told, "phones hdpn"},
        {{defaultIs("ee")}, Told, "speakers ispk"}}},
    {"ALoopIsTheDefaultOfNoKind", {
        {{Sink{.index = 20, .name = "a", .form = "headphone", .module = 11},
          Sink{.index = 21, .name = "b", .module = 12},
          plays(57, 21, 11), plays(58, 20, 12), defaultIs("a")}, Told, "a othr"}}},
    {"OverTheHopLimitIsTheDefaultOfNoKind", {
        {{chainOfSix, defaultIs("s1")}, Told, "s5 hdpn"}, // four hops are followed
        {{defaultIs("s0")}, Told, "s0 othr"}}},
    {"ACombineOfTooManySinksIsTheDefaultOfNoKind", {
        {{combineOfMany, defaultIs("top")}, Told, "top othr"}}},
    {"AStreamBetweenSinksIsToldOnceItHasLanded", {
        {{kRemap, plays(50, 1, 7), defaultIs("remap"), chainIs({50}, false)},
         Quiet, "speakers ispk"},
        // Reads keep to where it was until it lands.
        {{plays(50, kNone, 7), chainIs({50}, true)}, Quiet, "speakers ispk"},
        {{plays(50, 2, 7)}, Told, "phones hdpn"},
        {{plays(50, kNone, 7), plays(50, 2, 7)}, Quiet, "phones hdpn"}, // back where it was
        {{plays(50, 9, 7)}}, // into a sink not known yet
        {{Sink{.index = 9, .name = "usb", .form = "headset"}}, Told, "usb hdst"}}},
    {"ASinkRemovedMidChainWaitsForWhereTheStreamGoes", {
        {{kRemap, plays(50, 2, 7), defaultIs("remap")}, Told, "phones hdpn"},
        {{sinkGone(2)}, Quiet, "none"}, // never a sink that is gone
        {{plays(50, 1, 7)}, Told, "speakers ispk"},
        // The effects sink goes too, its stream first: it is its own output until it is gone.
        {{streamGone(50)}, Told, "remap othr"},
        {{sinkGone(10)}, Quiet, "none"}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Scenes, Mirror, testing::ValuesIn(kScenes),
                         [](const auto& info) { return std::string(info.param.name); });

// PipeWire 0.3 can leave a connection that was new when the default changed with the old
// default for good, and send it no event: only a newcomer sees the change.
TEST_F(Mirror, ANewcomerThatSeesAnotherDefaultShowsOursIsOutOfDate) {
    EXPECT_FALSE(mirror.outOfDate("speakers"));
    EXPECT_TRUE(mirror.outOfDate("phones"));
    mirror.asked();
    EXPECT_FALSE(mirror.outOfDate("phones")) << "an answer on its way may bring ours up to date";
    mirror.answered();
    mirror.lost();
    EXPECT_FALSE(mirror.outOfDate("phones"));
}

// Started with EasyEffects as the default, there is no last plain default to go by.
TEST(ChainAtStart, EasyEffectsPlaysIntoTheOnlySinkThatIsNoEffectsSink) {
    ServerMirror mirror;
    mirror.connected();
    defaultIs("ee")(mirror);
    Sink{.index = 14, .name = "ee", .effects = true}(mirror);
    kPhones(mirror);
    EXPECT_EQ(mirror.defaultOutput(), 2u);
    EXPECT_EQ(mirror.defaultSink(), 14u) << "the server's own default stays in front";
    kSpeakers(mirror);
    EXPECT_EQ(mirror.defaultOutput(), 14u) << "two sinks it may play into: nothing to go by";
}

} // namespace
