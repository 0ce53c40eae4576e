#include "platform/audio/PulseMapping.h"

#include "platform/audio/AudioObject.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <pulse/proplist.h>

namespace platform::audio::pulse {

namespace {

bool oneOf(pa_device_port_type_t type, std::initializer_list<pa_device_port_type_t> types) {
    for (pa_device_port_type_t t : types) {
        if (t == type) {
            return true;
        }
    }
    return false;
}

bool propertyIs(const pa_sink_info& sink, const char* key,
                std::initializer_list<const char*> values) {
    const char* value = sink.proplist ? pa_proplist_gets(sink.proplist, key) : nullptr;
    if (value == nullptr) {
        return false;
    }
    for (const char* v : values) {
        if (std::strcmp(value, v) == 0) {
            return true;
        }
    }
    return false;
}

struct Rule {
    const char* code;
    std::initializer_list<pa_device_port_type_t> portTypes;
    std::initializer_list<const char*> formFactors;
};

// After the buses and the speakers, the first rule whose port type or form factor matches.
const Rule kRules[] = {
    {"hdpn", {PA_DEVICE_PORT_TYPE_HEADPHONES}, {"headphone"}},
    {"hdst",
     {PA_DEVICE_PORT_TYPE_HEADSET, PA_DEVICE_PORT_TYPE_HANDSFREE, PA_DEVICE_PORT_TYPE_HANDSET,
      PA_DEVICE_PORT_TYPE_EARPIECE},
     {"headset", "hands-free", "handset"}},
    {"hdmi", {PA_DEVICE_PORT_TYPE_HDMI, PA_DEVICE_PORT_TYPE_TV, PA_DEVICE_PORT_TYPE_VIDEO}, {"tv"}},
    {"spdf", {PA_DEVICE_PORT_TYPE_SPDIF}, {}},
    {"line",
     {PA_DEVICE_PORT_TYPE_LINE, PA_DEVICE_PORT_TYPE_ANALOG, PA_DEVICE_PORT_TYPE_AUX,
      PA_DEVICE_PORT_TYPE_HIFI},
     {"hifi"}},
    {"netw", {PA_DEVICE_PORT_TYPE_NETWORK}, {}},
};

std::uint32_t code(const char* text) {
    return (std::uint32_t(std::uint8_t(text[0])) << 24) |
           (std::uint32_t(std::uint8_t(text[1])) << 16) |
           (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

} // namespace

std::uint32_t outputTypeOf(const pa_sink_info& sink) {
    const bool hasPort = sink.active_port != nullptr;
    const pa_device_port_type_t port =
        hasPort ? pa_device_port_type_t(sink.active_port->type) : PA_DEVICE_PORT_TYPE_UNKNOWN;

    if (propertyIs(sink, PA_PROP_DEVICE_BUS, {"bluetooth"}) ||
        port == PA_DEVICE_PORT_TYPE_BLUETOOTH) {
        return code("blth");
    }
    if (propertyIs(sink, PA_PROP_DEVICE_BUS, {"usb"}) || port == PA_DEVICE_PORT_TYPE_USB) {
        return code("usbo");
    }
    if (port == PA_DEVICE_PORT_TYPE_SPEAKER ||
        (!hasPort && propertyIs(sink, PA_PROP_DEVICE_FORM_FACTOR, {"internal", "speaker"}))) {
        return code("ispk");
    }
    for (const Rule& rule : kRules) {
        if ((hasPort && oneOf(port, rule.portTypes)) ||
            propertyIs(sink, PA_PROP_DEVICE_FORM_FACTOR, rule.formFactors)) {
            return code(rule.code);
        }
    }
    if (sink.flags & PA_SINK_NETWORK) {
        return code("netw");
    }
    return code("othr");
}

float volumeFraction(const pa_cvolume& volume) {
    return std::min(volumeLevel(volume), 1.0f);
}

float volumeLevel(const pa_cvolume& volume) {
    if (!pa_cvolume_valid(&volume)) {
        return 0.0f;
    }
    return float(double(pa_cvolume_max(&volume)) / double(PA_VOLUME_NORM));
}

pa_cvolume scaledTo(const pa_cvolume& volume, float fraction) {
    double clamped = std::isfinite(fraction) ? std::clamp(double(fraction), 0.0, 1.0) : 0.0;
    auto target = pa_volume_t(std::lround(clamped * PA_VOLUME_NORM));
    pa_cvolume scaled = volume;
    if (pa_cvolume_max(&scaled) == PA_VOLUME_MUTED) {
        pa_cvolume_set(&scaled, scaled.channels, target);
        return scaled;
    }
    pa_cvolume_scale(&scaled, target);
    return scaled;
}

} // namespace platform::audio::pulse
