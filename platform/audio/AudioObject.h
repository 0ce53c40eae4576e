#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform::audio {

using AudioObjectID = std::uint32_t;
using AudioDeviceID = AudioObjectID;
using OSStatus = std::int32_t;

// Four printable characters packed with the first one in the most significant byte.
constexpr std::uint32_t fourCharCode(std::string_view code) {
    return code.size() != 4 ? 0
                            : (std::uint32_t(std::uint8_t(code[0])) << 24) |
                                  (std::uint32_t(std::uint8_t(code[1])) << 16) |
                                  (std::uint32_t(std::uint8_t(code[2])) << 8) |
                                  std::uint32_t(std::uint8_t(code[3]));
}

// The four characters of a code, the most significant byte first.
inline std::string fourCharText(std::uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

struct AudioObjectPropertyAddress {
    std::uint32_t mSelector;
    std::uint32_t mScope;
    std::uint32_t mElement;
};

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr std::uint32_t kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
inline constexpr std::uint32_t kAudioDevicePropertyDataSource = fourCharCode("ssrc");
inline constexpr std::uint32_t kAudioHardwareServiceDeviceProperty_VirtualMasterVolume =
    fourCharCode("vmvc");
inline constexpr std::uint32_t kAudioDevicePropertyMute = fourCharCode("mute");
// Our own: the volume boosts included (1.3 for a mixer's 130 %), where the volume above reads
// a boost as 1.0. Written, it sets exactly that level, where a volume write of 1.0 keeps a boost.
inline constexpr std::uint32_t kAudioDevicePropertyVolumeLevel = fourCharCode("levl");
// Our own, of the system object: the device the sound server itself calls its default. The same
// as the default output, or an effects sink in front of it that plays into the default output.
inline constexpr std::uint32_t kAudioHardwarePropertyDefaultSink = fourCharCode("dSnk");

inline constexpr std::uint32_t kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
inline constexpr std::uint32_t kAudioDevicePropertyScopeOutput = fourCharCode("outp");
inline constexpr std::uint32_t kAudioObjectPropertyElementMaster = 0;

inline constexpr std::uint32_t kAudioObjectPropertySelectorWildcard = fourCharCode("****");
inline constexpr std::uint32_t kAudioObjectPropertyScopeWildcard = fourCharCode("****");
inline constexpr std::uint32_t kAudioObjectPropertyElementWildcard = 0xFFFFFFFF;

inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareNotRunningError = OSStatus(fourCharCode("stop"));
inline constexpr OSStatus kAudioHardwareUnspecifiedError = OSStatus(fourCharCode("what"));
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = OSStatus(fourCharCode("who?"));
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = OSStatus(fourCharCode("!siz"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError = OSStatus(fourCharCode("nope"));
inline constexpr OSStatus kAudioHardwareBadObjectError = OSStatus(fourCharCode("!obj"));
inline constexpr OSStatus kAudioHardwareUnsupportedOperationError = OSStatus(fourCharCode("unop"));

using AudioObjectPropertyListenerProc = OSStatus (*)(AudioObjectID objectID,
                                                     std::uint32_t numberAddresses,
                                                     const AudioObjectPropertyAddress* addresses,
                                                     void* clientData);

class Backend;

// The audio layer every program talks to. Values are exactly 4 bytes; status 0 means success.
OSStatus getPropertyData(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                         std::uint32_t qualifierSize, const void* qualifier,
                         std::uint32_t* ioDataSize, void* outData);
OSStatus setPropertyData(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                         std::uint32_t qualifierSize, const void* qualifier, std::uint32_t dataSize,
                         const void* data);

// Our own: sets a device's volume and lifts its mute in one go, without waiting between the two.
// When the volume is refused the device stays muted.
OSStatus setVolumeUnmuted(AudioDeviceID device, float volume);

// Our own: the name the sound server gives a device for people to read, in UTF-8.
OSStatus getDeviceDescription(AudioDeviceID device, std::string& description);

// Listeners are called on a thread of the audio layer, never on the caller's and never inside
// the sound server library's callbacks, so a listener may make blocking get/set calls.
OSStatus addPropertyListener(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                             AudioObjectPropertyListenerProc listener, void* clientData);
OSStatus removePropertyListener(AudioObjectID objectID, const AudioObjectPropertyAddress* address,
                                AudioObjectPropertyListenerProc listener, void* clientData);

// For a program that is about to end: calls that wait for the sound server give up at once,
// now and from now on, whatever the server does.
void giveUpWaiting();

// Installs the backend every call above goes to (made with makeBackend). Until one is
// installed the first call makes the default backend.
void useBackend(std::shared_ptr<Backend> backend);
std::shared_ptr<Backend> currentBackend();

} // namespace platform::audio
