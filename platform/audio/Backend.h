#pragma once

#include "platform/audio/AudioObject.h"
#include "platform/audio/ListenerRegistry.h"

#include <memory>
#include <string>
#include <utility>

namespace platform::audio {

// How a call of a backend ended; the audio calls turn it into a status code.
enum class Result { Ok, NoServer, NoSuchOutput, Refused };

// A source of outputs: which one is the default, and each one's kind, volume and mute. A
// backend calls its listeners on a thread of its own: those of the system object after events
// that may change the default output or its kind, never after a volume or mute change; those
// of a device after its volume was changed by another program.
class Backend {
public:
    virtual ~Backend() = default;

    virtual Result defaultOutput(AudioDeviceID& device) = 0;
    // The sink the server calls its default, which may be an effects sink in front of the
    // default output.
    virtual Result defaultSink(AudioDeviceID& device) = 0;
    virtual Result description(AudioDeviceID device, std::string& text) = 0;
    // The kind of output as a four-character code ("hdpn").
    virtual Result outputType(AudioDeviceID device, std::uint32_t& code) = 0;
    // The largest channel as a fraction of full volume; a boosted output reads as 1.0.
    virtual Result volume(AudioDeviceID device, float& fraction) = 0;
    virtual Result muted(AudioDeviceID device, bool& muted) = 0;
    // Writing back what was read keeps a boost.
    virtual Result setVolume(AudioDeviceID device, float fraction) = 0;
    virtual Result setMuted(AudioDeviceID device, bool muted) = 0;
    // The volume, then the mute lifted; a refused volume leaves the mute as it was.
    virtual Result setVolumeUnmuted(AudioDeviceID device, float fraction) {
        Result result = setVolume(device, fraction);
        return result == Result::Ok ? setMuted(device, false) : result;
    }
    // The volume as it is, boosts included, and a write that sets exactly that, boost or not.
    virtual Result level(AudioDeviceID device, float& fraction) = 0;
    virtual Result setLevel(AudioDeviceID device, float fraction) = 0;

    // Whether the caller runs on the thread that calls the listeners.
    virtual bool onNotificationThread() const = 0;
    // Calls that wait for the sound server give up at once, now and from now on.
    virtual void giveUpWaiting() {}

    ListenerRegistry& listeners() { return listeners_; }

private:
    ListenerRegistry listeners_;
};

// Destroys a backend, but never on its own notification thread: a listener may drop the last
// reference while its delivery is still running, and the backend is then destroyed on a thread
// of its own once the delivery has returned.
void retire(Backend* backend);

// Backends are made with this, so that their last owner may let go anywhere.
template <typename T, typename... Args> std::shared_ptr<T> makeBackend(Args&&... args) {
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...), [](T* b) { retire(b); });
}

// What the listeners are told.
inline constexpr AudioObjectPropertyAddress kDefaultOutputChanged{
    kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal,
    kAudioObjectPropertyElementMaster};
inline constexpr AudioObjectPropertyAddress kVolumeChanged{
    kAudioHardwareServiceDeviceProperty_VirtualMasterVolume, kAudioDevicePropertyScopeOutput,
    kAudioObjectPropertyElementMaster};

// The backend a program gets when nobody installed one.
std::shared_ptr<Backend> makeDefaultBackend();

} // namespace platform::audio
