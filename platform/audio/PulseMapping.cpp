#include "platform/audio/PulseMapping.h"

#include "platform/audio/AudioObject.h"
#include "platform/audio/OutputKinds.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <pulse/proplist.h>
#include <string>

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
    std::string_view kind;
    std::initializer_list<pa_device_port_type_t> portTypes;
    std::initializer_list<const char*> formFactors;
};

// After the buses and the speakers, the first rule whose port type or form factor matches.
const Rule kRules[] = {
    {kHeadphonesOutput, {PA_DEVICE_PORT_TYPE_HEADPHONES}, {"headphone"}},
    {kHeadsetOutput,
     {PA_DEVICE_PORT_TYPE_HEADSET, PA_DEVICE_PORT_TYPE_HANDSFREE, PA_DEVICE_PORT_TYPE_HANDSET,
      PA_DEVICE_PORT_TYPE_EARPIECE},
     {"headset", "hands-free", "handset"}},
    {kHdmiOutput,
     {PA_DEVICE_PORT_TYPE_HDMI, PA_DEVICE_PORT_TYPE_TV, PA_DEVICE_PORT_TYPE_VIDEO},
     {"tv"}},
    {kSpdifOutput, {PA_DEVICE_PORT_TYPE_SPDIF}, {}},
    {kLineOutput,
     {PA_DEVICE_PORT_TYPE_LINE, PA_DEVICE_PORT_TYPE_ANALOG, PA_DEVICE_PORT_TYPE_AUX,
      PA_DEVICE_PORT_TYPE_HIFI},
     {"hifi"}},
    {kNetworkOutput, {PA_DEVICE_PORT_TYPE_NETWORK}, {}},
};

// What the names of a Pro Audio sink say, where its card's form factor says the same for every
// output, HDMI included.
struct NameRule {
    std::string_view kind;
    std::initializer_list<const char*> words;
};

const NameRule kNameRules[] = {
    {kHdmiOutput, {"hdmi", "displayport"}},
    {kSpdifOutput, {"iec958", "spdif", "s/pdif", "digital"}},
    {kHeadsetOutput, {"headset"}},
    {kHeadphonesOutput, {"headphone"}},
    {kBuiltInSpeakerOutput, {"speaker"}},
    {kLineOutput, {"analog", "line"}},
};

std::string lowered(const char* text) {
    std::string result = text ? text : "";
    for (char& c : result) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

const char* property(const pa_sink_info& sink, const char* key) {
    return sink.proplist ? pa_proplist_gets(sink.proplist, key) : nullptr;
}

bool proAudio(const pa_sink_info& sink) {
    std::string profile = lowered(property(sink, PA_PROP_DEVICE_PROFILE_NAME));
    return propertyIs(sink, "device.profile.pro", {"true"}) || profile == "pro-audio" ||
           profile.starts_with("pro-output") ||
           lowered(sink.name).find(".pro-output-") != std::string::npos;
}

std::uint32_t proAudioKind(const pa_sink_info& sink, pa_device_port_type_t port) {
    if (port == PA_DEVICE_PORT_TYPE_SPEAKER) {
        return fourCharCode(kBuiltInSpeakerOutput);
    }
    for (const Rule& rule : kRules) {
        if (oneOf(port, rule.portTypes)) {
            return fourCharCode(rule.kind);
        }
    }
    const pa_sink_port_info* active = sink.active_port;
    for (const char* text :
         {active ? active->name : nullptr, active ? active->description : nullptr,
          property(sink, "alsa.id"), property(sink, "alsa.name"), property(sink, "node.nick"),
          property(sink, PA_PROP_DEVICE_DESCRIPTION), sink.name}) {
        std::string said = lowered(text);
        for (const NameRule& rule : kNameRules) {
            for (const char* word : rule.words) {
                if (said.find(word) != std::string::npos) {
                    return fourCharCode(rule.kind);
                }
            }
        }
    }
    return fourCharCode(kOtherOutput);
}

} // namespace

std::uint32_t outputTypeOf(const pa_sink_info& sink) {
    const bool hasPort = sink.active_port != nullptr;
    const pa_device_port_type_t port =
        hasPort ? pa_device_port_type_t(sink.active_port->type) : PA_DEVICE_PORT_TYPE_UNKNOWN;

    if (propertyIs(sink, PA_PROP_DEVICE_BUS, {"bluetooth"}) ||
        port == PA_DEVICE_PORT_TYPE_BLUETOOTH) {
        return fourCharCode(kBluetoothOutput);
    }
    if (propertyIs(sink, PA_PROP_DEVICE_BUS, {"usb"}) || port == PA_DEVICE_PORT_TYPE_USB) {
        return fourCharCode(kUsbOutput);
    }
    if (proAudio(sink)) {
        return proAudioKind(sink, port);
    }
    if (port == PA_DEVICE_PORT_TYPE_SPEAKER ||
        (!hasPort && propertyIs(sink, PA_PROP_DEVICE_FORM_FACTOR, {"internal", "speaker"}))) {
        return fourCharCode(kBuiltInSpeakerOutput);
    }
    for (const Rule& rule : kRules) {
        if ((hasPort && oneOf(port, rule.portTypes)) ||
            propertyIs(sink, PA_PROP_DEVICE_FORM_FACTOR, rule.formFactors)) {
            return fourCharCode(rule.kind);
        }
    }
    if (sink.flags & PA_SINK_NETWORK) {
        return fourCharCode(kNetworkOutput);
    }
    return fourCharCode(kOtherOutput);
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
