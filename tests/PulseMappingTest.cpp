#include "platform/audio/PulseMapping.h"

#include "platform/audio/AudioObject.h"

#include <gtest/gtest.h>

#include <memory>
#include <pulse/proplist.h>
#include <string>
#include <utility>

using namespace platform::audio;

namespace {

struct SinkCase {
    const char* name;
    int portType; // -1: the sink has no port
    const char* bus;
    const char* formFactor;
    bool network;
    const char* expected;
    friend void PrintTo(const SinkCase& c, std::ostream* os) { *os << c.name; }
};

using Property = std::pair<const char*, const char*>;

// The kind of a hand-made sink: properties (a null value is left out), an active port of a type
// (none for -1), a network sink or not.
std::string kindOf(std::initializer_list<Property> properties, int portType, bool network,
                   const char* name = "sink") {
    std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> props(pa_proplist_new(),
                                                                    pa_proplist_free);
    for (const auto& [key, value] : properties) {
        if (value) {
            pa_proplist_sets(props.get(), key, value);
        }
    }
    pa_sink_port_info port{};
    port.type = std::uint32_t(portType);
    pa_sink_info sink{};
    sink.name = name;
    sink.proplist = props.get();
    sink.flags = network ? PA_SINK_NETWORK : pa_sink_flags_t(0);
    sink.active_port = portType < 0 ? nullptr : &port;
    return fourCharText(pulse::outputTypeOf(sink));
}

class OutputType : public testing::TestWithParam<SinkCase> {};

TEST_P(OutputType, FollowsBusPortAndFormFactor) {
    const SinkCase& c = GetParam();
    EXPECT_EQ(kindOf({{PA_PROP_DEVICE_BUS, c.bus}, {PA_PROP_DEVICE_FORM_FACTOR, c.formFactor}},
                     c.portType, c.network),
              c.expected);
}

// Each bus, the speakers' rules and their order, one case of each kind, the fallbacks.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Sinks, OutputType, testing::Values(
    SinkCase{"BluetoothBus", -1, "bluetooth", "headphone", false, "blth"},
    SinkCase{"BluetoothPort", PA_DEVICE_PORT_TYPE_BLUETOOTH, nullptr, nullptr, false, "blth"},
    SinkCase{"UsbBus", PA_DEVICE_PORT_TYPE_HEADPHONES, "usb", nullptr, false, "usbo"},
    SinkCase{"UsbPort", PA_DEVICE_PORT_TYPE_USB, "pci", nullptr, false, "usbo"},
    SinkCase{"SpeakerPort", PA_DEVICE_PORT_TYPE_SPEAKER, "pci", "headphone", false, "ispk"},
    SinkCase{"InternalWithOtherPort", PA_DEVICE_PORT_TYPE_HDMI, nullptr, "internal", false, "hdmi"},
    SinkCase{"HeadphonesPort", PA_DEVICE_PORT_TYPE_HEADPHONES, "pci", nullptr, false, "hdpn"},
    SinkCase{"HandsfreePort", PA_DEVICE_PORT_TYPE_HANDSFREE, nullptr, nullptr, false, "hdst"},
    SinkCase{"SpdifPort", PA_DEVICE_PORT_TYPE_SPDIF, nullptr, nullptr, false, "spdf"},
    SinkCase{"AnalogPort", PA_DEVICE_PORT_TYPE_ANALOG, nullptr, nullptr, false, "line"},
    SinkCase{"NetworkPort", PA_DEVICE_PORT_TYPE_NETWORK, nullptr, nullptr, false, "netw"},
    SinkCase{"NetworkSink", -1, nullptr, nullptr, true, "netw"},
    SinkCase{"MicPort", PA_DEVICE_PORT_TYPE_MIC, nullptr, "computer", false, "othr"},
    SinkCase{"NullSink", -1, nullptr, nullptr, false, "othr"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A card in the Pro Audio profile: every sink has the card's form factor and no port, so the
// names the server gives the node decide, as the server reports them on each.
TEST(OutputType, ProAudioSinksGoByWhatTheServerSaysOfTheNode) {
    struct {
        const char* profileKey;
        const char* profile;
        const char* alsaName;
        const char* name;
        const char* expected;
    } cases[] = {
        {"device.profile.name", "pro-output-3", "HDMI 0", "alsa_output.pci.pro-output-3", "hdmi"},
        {"device.profile.pro", "true", "ALC257 Analog", "alsa_output.pci.pro-output-0", "line"},
        {"device.profile.name", "pro-audio", "ALC1220 Digital", "x", "spdf"},
        {"device.profile.name", "pro-output-1", "Headphones", "x", "hdpn"},
        {"device.profile.name", "pro-output-2", nullptr, "alsa_output.x.pro-output-2", "othr"},
        {"device.profile.name", nullptr, nullptr, "alsa_output.pci.pro-output-7", "othr"},
        // Not Pro Audio: the form factor decides, as before.
        {"device.profile.name", "analog-stereo", "HDMI 0", "x", "ispk"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kindOf({{PA_PROP_DEVICE_FORM_FACTOR, "internal"},
                          {c.profileKey, c.profile},
                          {"alsa.name", c.alsaName}},
                         -1, false, c.name),
                  c.expected)
            << c.name;
    }
    // A bus still says more than any name.
    EXPECT_EQ(kindOf({{PA_PROP_DEVICE_BUS, "usb"}, {"device.profile.pro", "true"}}, -1, false),
              "usbo");
}

TEST(OutputType, NoPropertiesAtAll) {
    EXPECT_EQ(fourCharText(pulse::outputTypeOf(pa_sink_info{})), "othr");
}

// The volume caps a boost at 1.0; the level the ceiling guard compares does not.
TEST(Volume, LargestChannelCappedAtOneAndTheLevelUncapped) {
    struct {
        pa_cvolume volume;
        float expected;
        float level;
    } cases[] = {
        {pa_cvolume{2, {PA_VOLUME_NORM / 2, PA_VOLUME_NORM / 4}}, 0.5f, 0.5f},
        {pa_cvolume{2, {PA_VOLUME_NORM / 4, PA_VOLUME_NORM}}, 1.0f, 1.0f},
        {pa_cvolume{2, {PA_VOLUME_NORM * 3 / 2, PA_VOLUME_NORM}}, 1.0f, 1.5f},
        {pa_cvolume{2, {PA_VOLUME_MUTED, PA_VOLUME_MUTED}}, 0.0f, 0.0f},
        {pa_cvolume{}, 0.0f, 0.0f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(pulse::volumeFraction(c.volume), c.expected);
        EXPECT_FLOAT_EQ(pulse::volumeLevel(c.volume), c.level);
    }
}

TEST(Volume, WriteScalesAllChannelsKeepingTheBalance) {
    pa_cvolume scaled = pulse::scaledTo(pa_cvolume{2, {PA_VOLUME_NORM, PA_VOLUME_NORM / 2}}, 0.5f);
    EXPECT_EQ(scaled.values[0], PA_VOLUME_NORM / 2);
    EXPECT_EQ(scaled.values[1], PA_VOLUME_NORM / 4);
    EXPECT_FLOAT_EQ(pulse::volumeFraction(scaled), 0.5f);

    pa_cvolume fromSilence =
        pulse::scaledTo(pa_cvolume{2, {PA_VOLUME_MUTED, PA_VOLUME_MUTED}}, 0.75f);
    EXPECT_FLOAT_EQ(pulse::volumeFraction(fromSilence), 0.75f);
    EXPECT_EQ(fromSilence.values[0], fromSilence.values[1]);

    EXPECT_EQ(pulse::scaledTo(pa_cvolume{1, {PA_VOLUME_NORM}}, 7.0f).values[0], PA_VOLUME_NORM);
    EXPECT_EQ(pulse::scaledTo(pa_cvolume{1, {PA_VOLUME_NORM}}, -1.0f).values[0], PA_VOLUME_MUTED);
}

TEST(DeviceIds, NeverTheUnknownOrTheSystemObject) {
    for (std::uint32_t index : {0u, 1u}) {
        EXPECT_GT(pulse::deviceIdOf(index), kAudioObjectSystemObject);
        EXPECT_EQ(pulse::sinkIndexOf(pulse::deviceIdOf(index)), index);
    }
}

} // namespace
