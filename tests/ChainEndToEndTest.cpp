#include "tests/support/HelperEndToEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace sonvela::test;
using namespace std::chrono_literals;

namespace {

// Volumes the servers hold exactly, so the logged fractions are predictable.
const Table kTable{{"hdmi", 0.5}, {"hdpn", 0.75}, {"othr", 0.25}};
// The user's own level on the effects sink, which is not the helper's to change.
constexpr float kEffectsLevel = 0.625f;

enum class Action {
    Default, // makes the sink the default
    Move,    // moves the chain's output to the sink
    Unlink,  // leaves the chain's output in no sink
    Wait,    // five seconds of whatever the server sends by itself
    // Five seconds of changes of the chain's streams that lead nowhere new, as a loopback between
    // two clocks sends when it adjusts its rate, about every second. Null sinks share one clock,
    // so a mixer's stream slider makes them here.
    Noise,
};

struct Step {
    Action action;
    std::string sink;
    // The restore the helper logs for it, "" for none.
    std::string logged;
    // The sink that then holds the logged volume, where it is not `sink`.
    std::string heard = {};
};

struct ChainCase {
    const char* name;
    const char* server; // nullptr: both
    ChainSpec::Kind kind;
    std::vector<std::string> outputs;
    std::vector<Step> steps;
    // Whether the effects sink keeps a level of its own: a virtual sink shares its output's.
    bool ownLevel = true;
};

void PrintTo(const ChainCase& c, std::ostream* os) {
    *os << c.name;
}

using Kind = ChainSpec::Kind;
using enum Action;

// Headphones are the default at the start ("hdpn 0.750000"), and something plays into the chain:
// only then does PipeWire tell clients that a stream moved.
// clang-format off
const ChainCase kCases[] = {
    {"RemapSinkMoves", "pulseaudio", Kind::Remap, {"tv"}, {
        {Default, "effects", "hdmi 0.500000", "tv"},
        {Move, "headphones", "hdpn 0.750000"},
        {Default, "headphones", ""}, // the output the sound already reached
        {Default, "tv", "hdmi 0.500000"}}},
    {"VirtualSinkMoves", "pulseaudio", Kind::Virtual, {"tv"}, {
        {Default, "effects", "hdmi 0.500000", "tv"},
        {Move, "headphones", "hdpn 0.750000"}}, false},
    {"LoopbackNoiseStartsNothing", "pulseaudio", Kind::Loopback, {"tv"}, {
        {Default, "effects", "hdmi 0.500000", "tv"},
        {Noise, "", ""},
        {Move, "headphones", "hdpn 0.750000"}}},
    {"CombineOfTwoKindsIsOther", nullptr, Kind::Combine, {"tv", "headphones"}, {
        {Default, "effects", "othr 0.250000"},
        {Default, "headphones", "hdpn 0.750000"}}},
    {"CombineOfOneKindHasThatKind", nullptr, Kind::Combine, {"headphones", "earbuds"}, {
        {Default, "effects", "hdpn 0.750000"}}},
    {"FilterChainMoves", "pipewire", Kind::FilterChain, {"tv"}, {
        {Default, "effects", "hdmi 0.500000", "tv"},
        {Noise, "", ""},
        {Move, "headphones", "hdpn 0.750000"},
        {Default, "headphones", ""},
        {Default, "tv", "hdmi 0.500000"}}},
    {"LoopbackLandsFromBetweenSinks", "pipewire", Kind::Loopback, {"tv"}, {
        {Default, "effects", "hdmi 0.500000", "tv"},
        {Unlink, "", ""},
        {Wait, "", ""},
        {Move, "headphones", "hdpn 0.750000"}}},
    // It plays into the last default that was not virtual, which it follows; clients see none
    // of its links.
    {"EasyEffectsPlaysIntoTheLastPlainDefault", "pipewire", Kind::EasyEffects, {"headphones"}, {
        {Default, "effects", ""},
        {Default, "tv", "hdmi 0.500000"},
        {Move, "tv", ""},
        {Default, "effects", ""},
        {Default, "headphones", "hdpn 0.750000"}}},
};
// clang-format on

std::vector<ChainCase> casesOfThisServer() {
    std::vector<ChainCase> cases;
    std::copy_if(std::begin(kCases), std::end(kCases), std::back_inserter(cases),
                 [](const ChainCase& c) {
                     return !c.server || c.server == std::string(SONVELA_SOUND_SERVER);
                 });
    return cases;
}

class Chain : public HelperEndToEnd, public testing::WithParamInterface<ChainCase> {
protected:
    void take(const Step& step) {
        switch (step.action) {
        case Default:
            return server->switchDefault(step.sink);
        case Move:
            return server->moveChain(step.sink);
        case Unlink:
            return server->unlinkChain();
        case Wait:
            return std::this_thread::sleep_for(5s);
        case Noise:
            for (int i = 0; i < 20; ++i) {
                auto streams = server->chainStreams();
                ASSERT_FALSE(streams.empty()) << "no noise to make";
                for (const auto& stream : streams) {
                    ASSERT_TRUE(client->setStreamVolume(stream.index, i % 2 == 0 ? 0.9f : 1.0f));
                }
                std::this_thread::sleep_for(250ms);
            }
        }
    }

    // Waits for the step's restore, or gives the helper a moment to show that none comes.
    void expectRestores(const std::vector<std::string>& expected, const Step& step) {
        if (step.logged.empty()) {
            std::this_thread::sleep_for(1s);
            ASSERT_EQ(helper->restores(), expected) << describe(kEffects);
            return;
        }
        ASSERT_TRUE(eventually([&] { return helper->restores() == expected; }))
            << describe(kEffects);
        const SinkSpec heard{step.heard.empty() ? step.sink : step.heard, "", ""};
        EXPECT_TRUE(eventually([&] {
            return sinkIs(heard, std::stod(step.logged.substr(5)), false);
        })) << describe(heard);
    }
};

TEST_P(Chain, TheStoredVolumeGoesToTheOutputTheSoundReaches) {
    const ChainCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(
        start({kHeadphones, kTv, kEarbuds}, kTable, ChainSpec{c.kind, kEffects.name, c.outputs}));
    ASSERT_TRUE(client->setVolume(kEffects.name, kEffectsLevel));
    server->play(kEffects.name);
    // PipeWire 0.3 can miss a default switch made while a connection is new; the helper then
    // connects again a second later, which is a restore of its own. The steps come after that.
    std::this_thread::sleep_for(1500ms);

    std::vector<std::string> expected = helper->restores();
    for (const Step& step : c.steps) {
        SCOPED_TRACE(testing::Message() << "step " << &step - c.steps.data());
        try {
            take(step);
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        if (!step.logged.empty()) {
            expected.push_back(step.logged);
        }
        ASSERT_NO_FATAL_FAILURE(expectRestores(expected, step));
    }
    // One restore per step that changed the output, nothing left muted, and the effects sink
    // at the user's level unless it is the output itself.
    ASSERT_NO_FATAL_FAILURE(expectRestores(expected, {Wait, "", ""}));
    const bool effectsHeard = std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) {
        return !s.logged.empty() && s.sink == kEffects.name && s.heard.empty();
    });
    for (const SinkSpec& sink : {kHeadphones, kTv, kEffects}) {
        EXPECT_FALSE(client->sink(sink.name).value().muted) << describe(sink);
    }
    if (c.ownLevel && !effectsHeard) {
        EXPECT_TRUE(sinkIs(kEffects, kEffectsLevel, false)) << describe(kEffects);
    }
}

INSTANTIATE_TEST_SUITE_P(HelperEndToEnd, Chain, testing::ValuesIn(casesOfThisServer()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
