#include "app/KindDisplay.h"

#include "platform/bundle/Bundle.h"

#include <algorithm>
#include <cmath>

using platform::bundle::Bundle;

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

quint32 KindDisplay::percentOf(float volume) {
    float percent = volume * 100.0f;
    if (!(percent > 0.0f)) {
        return 0;
    }
    if (percent >= 4294967295.0f) {
        return 0xFFFFFFFFu;
    }
    // A hundredth of a percent is below anything a user sets and above the rounding of a
    // float or of the sound server's volume steps.
    float whole = std::round(percent);
    if (whole - percent > 0.0f && whole - percent < 0.01f) {
        return quint32(whole);
    }
    return quint32(percent);
}

float KindDisplay::fractionOf(quint32 percent) {
    return float(double(percent) / 100.0);
}

int KindDisplay::shownPercent(quint32 percent) {
    return int(std::min<quint32>(percent, 100));
}

QString KindDisplay::displayNameFor(const std::string& outputType) {
    return fromUtf8(Bundle::main().localizedString(outputType, "", "AudioDeviceName"));
}

QIcon KindDisplay::iconFor(const std::string& outputType) {
    const Bundle& bundle = Bundle::main();
    std::string name = bundle.localizedString(outputType, "", "AudioDeviceIcon");
    if (name == outputType) {
        name = "sonvela.icns";
    }
    auto path = bundle.pathForResource(name, "");
    return path ? QIcon(fromUtf8(*path)) : QIcon();
}

QString KindDisplay::text(const char* key) {
    return fromUtf8(Bundle::main().localizedString(key, "", ""));
}
