#pragma once

#include <cstdint>
#include <pulse/introspect.h>
#include <pulse/volume.h>

namespace platform::audio::pulse {

// The kind of output a sink is, as a four-character code ("hdpn" for headphones).
std::uint32_t outputTypeOf(const pa_sink_info& sink);

// The largest channel as a fraction of the normal volume; a boosted sink reads as 1.0.
float volumeFraction(const pa_cvolume& volume);
// The same, boosts included: 1.3 for a sink a mixer turned up to 130 %.
float volumeLevel(const pa_cvolume& volume);

// The channel volumes scaled so the largest one is the fraction, keeping the balance.
// A volume of all zero channels comes back with every channel at the fraction.
pa_cvolume scaledTo(const pa_cvolume& volume, float fraction);

// Sink indexes are small numbers starting at 0; device ids may never be 0 or 1.
inline constexpr std::uint32_t kDeviceIdOffset = 16;
inline std::uint32_t deviceIdOf(std::uint32_t sinkIndex) {
    return sinkIndex + kDeviceIdOffset;
}
inline std::uint32_t sinkIndexOf(std::uint32_t deviceId) {
    return deviceId - kDeviceIdOffset;
}

} // namespace platform::audio::pulse
