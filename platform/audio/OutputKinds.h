#pragma once

#include <array>
#include <string_view>

namespace platform::audio {

// The kinds of output the default sink can be, as the four characters of its data source.
inline constexpr std::string_view kBluetoothOutput = "blth";
inline constexpr std::string_view kUsbOutput = "usbo";
inline constexpr std::string_view kHeadphonesOutput = "hdpn";
inline constexpr std::string_view kHeadsetOutput = "hdst";
inline constexpr std::string_view kHdmiOutput = "hdmi";
inline constexpr std::string_view kSpdifOutput = "spdf";
inline constexpr std::string_view kLineOutput = "line";
inline constexpr std::string_view kNetworkOutput = "netw";
inline constexpr std::string_view kOtherOutput = "othr";
inline constexpr std::string_view kBuiltInSpeakerOutput = "ispk";

// Every kind, in the order a list of them shows them.
inline constexpr std::array<std::string_view, 10> kOutputKinds = {
    kBluetoothOutput, kUsbOutput,  kHeadphonesOutput, kHeadsetOutput, kHdmiOutput,
    kSpdifOutput,     kLineOutput, kNetworkOutput,    kOtherOutput,   kBuiltInSpeakerOutput};

// The kind whose volume is never stored: the built-in speakers.
inline constexpr std::string_view kIgnoredOutputKind = kBuiltInSpeakerOutput;

} // namespace platform::audio
