#include "platform/audio/PulseMapping.h"

#include "platform/audio/AudioObject.h"

#include <gtest/gtest.h>

#include <memory>
#include <pulse/proplist.h>
#include <string>

using namespace platform::audio;

namespace {

struct SinkCase {
    const char* name;
    int portType; // -1: the sink has no port
    const char* bus;
    const char* formFactor;
    bool network;
    const char* expected;
};

std::string codeText(std::uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

void PrintTo(const SinkCase& c, std::ostream* os) {
    *os << c.name;
}

class OutputType : public testing::TestWithParam<SinkCase> {};

TEST_P(OutputType, FollowsBusPortAndFormFactor) {
    const SinkCase& c = GetParam();
    std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> props(pa_proplist_new(),
                                                                    pa_proplist_free);
    if (c.bus) {
        pa_proplist_sets(props.get(), PA_PROP_DEVICE_BUS, c.bus);
    }
    if (c.formFactor) {
        pa_proplist_sets(props.get(), PA_PROP_DEVICE_FORM_FACTOR, c.formFactor);
    }
    pa_sink_port_info port{};
    port.name = "port";
    port.type = c.portType < 0 ? 0 : std::uint32_t(c.portType);
    pa_sink_port_info* ports[] = {&port, nullptr};

    pa_sink_info sink{};
    sink.name = "sink";
    sink.proplist = props.get();
    sink.flags = c.network ? PA_SINK_NETWORK : pa_sink_flags_t(0);
    if (c.portType >= 0) {
        sink.n_ports = 1;
        sink.ports = ports;
        sink.active_port = &port;
    }
    EXPECT_EQ(codeText(pulse::outputTypeOf(sink)), c.expected);
}

// Each bus, the speakers' rules and their order, one case of each kind, the fallbacks.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Sinks, OutputType, testing::Values(
    SinkCase{"BluetoothBus", -1, "bluetooth", "headphone", false, "blth"},
    SinkCase{"BluetoothPort", PA_DEVICE_PORT_TYPE_BLUETOOTH, nullptr, nullptr, false, "blth"},
    SinkCase{"UsbBus", PA_DEVICE_PORT_TYPE_HEADPHONES, "usb", nullptr, false, "usbo"},
    SinkCase{"UsbPort", PA_DEVICE_PORT_TYPE_USB, "pci", nullptr, false, "usbo"},
    SinkCase{"SpeakerPort", PA_DEVICE_PORT_TYPE_SPEAKER, "pci", "headphone", false, "ispk"},
    SinkCase{"InternalWithoutPort", -1, nullptr, "internal", false, "ispk"},
    SinkCase{"InternalWithOtherPort", PA_DEVICE_PORT_TYPE_HDMI, nullptr, "internal", false, "hdmi"},
    SinkCase{"HeadphonesPort", PA_DEVICE_PORT_TYPE_HEADPHONES, "pci", nullptr, false, "hdpn"},
    SinkCase{"HeadphoneFormFactor", -1, nullptr, "headphone", false, "hdpn"},
    SinkCase{"HandsfreePort", PA_DEVICE_PORT_TYPE_HANDSFREE, nullptr, nullptr, false, "hdst"},
    SinkCase{"TvFormFactor", -1, nullptr, "tv", false, "hdmi"},
    SinkCase{"SpdifPort", PA_DEVICE_PORT_TYPE_SPDIF, nullptr, nullptr, false, "spdf"},
    SinkCase{"AnalogPort", PA_DEVICE_PORT_TYPE_ANALOG, nullptr, nullptr, false, "line"},
    SinkCase{"NetworkPort", PA_DEVICE_PORT_TYPE_NETWORK, nullptr, nullptr, false, "netw"},
    SinkCase{"NetworkSink", -1, nullptr, nullptr, true, "netw"},
    SinkCase{"MicPort", PA_DEVICE_PORT_TYPE_MIC, nullptr, "computer", false, "othr"},
    SinkCase{"NullSink", -1, nullptr, nullptr, false, "othr"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(OutputType, NoPropertiesAtAll) {
    EXPECT_EQ(codeText(pulse::outputTypeOf(pa_sink_info{})), "othr");
}

pa_cvolume channels(std::initializer_list<pa_volume_t> values) {
    pa_cvolume v{};
    v.channels = std::uint8_t(values.size());
    std::size_t i = 0;
    for (pa_volume_t value : values) {
        v.values[i++] = value;
    }
    return v;
}

// The volume caps a boost at 1.0; the level the ceiling guard compares does not.
TEST(Volume, LargestChannelCappedAtOneAndTheLevelUncapped) {
    struct {
        pa_cvolume volume;
        float expected;
        float level;
    } cases[] = {
        {channels({PA_VOLUME_NORM / 2, PA_VOLUME_NORM / 4}), 0.5f, 0.5f},
        {channels({PA_VOLUME_NORM / 4, PA_VOLUME_NORM}), 1.0f, 1.0f},
        {channels({PA_VOLUME_NORM * 3 / 2, PA_VOLUME_NORM}), 1.0f, 1.5f},
        {channels({PA_VOLUME_MUTED, PA_VOLUME_MUTED}), 0.0f, 0.0f},
        {channels({}), 0.0f, 0.0f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(pulse::volumeFraction(c.volume), c.expected);
        EXPECT_FLOAT_EQ(pulse::volumeLevel(c.volume), c.level);
    }
}

TEST(Volume, WriteScalesAllChannelsKeepingTheBalance) {
    pa_cvolume scaled = pulse::scaledTo(channels({PA_VOLUME_NORM, PA_VOLUME_NORM / 2}), 0.5f);
    EXPECT_EQ(scaled.values[0], PA_VOLUME_NORM / 2);
    EXPECT_EQ(scaled.values[1], PA_VOLUME_NORM / 4);
    EXPECT_FLOAT_EQ(pulse::volumeFraction(scaled), 0.5f);

    pa_cvolume fromSilence = pulse::scaledTo(channels({PA_VOLUME_MUTED, PA_VOLUME_MUTED}), 0.75f);
    EXPECT_FLOAT_EQ(pulse::volumeFraction(fromSilence), 0.75f);
    EXPECT_EQ(fromSilence.values[0], fromSilence.values[1]);

    EXPECT_EQ(pulse::scaledTo(channels({PA_VOLUME_NORM}), 7.0f).values[0], PA_VOLUME_NORM);
    EXPECT_EQ(pulse::scaledTo(channels({PA_VOLUME_NORM}), -1.0f).values[0], PA_VOLUME_MUTED);
}

TEST(DeviceIds, NeverTheUnknownOrTheSystemObject) {
    for (std::uint32_t index : {0u, 1u, 45u}) {
        std::uint32_t id = pulse::deviceIdOf(index);
        EXPECT_NE(id, kAudioObjectUnknown);
        EXPECT_NE(id, kAudioObjectSystemObject);
        EXPECT_EQ(pulse::sinkIndexOf(id), index);
    }
}

} // namespace
