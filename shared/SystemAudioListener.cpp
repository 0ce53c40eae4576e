#include "shared/SystemAudioListener.h"

#include "platform/log/Log.h"

using namespace platform::audio;

namespace {

constexpr AudioObjectPropertyAddress kEveryProperty{kAudioObjectPropertySelectorWildcard,
                                                    kAudioObjectPropertyScopeWildcard,
                                                    kAudioObjectPropertyElementWildcard};

} // namespace

void SystemAudioListener::add(AudioObjectPropertyListenerProc listener, void* clientData) {
    if (addPropertyListener(kAudioObjectSystemObject, &kEveryProperty, listener, clientData) !=
        kAudioHardwareNoError) {
        platform::log::nslog("register listener error!");
    }
}

void SystemAudioListener::remove(AudioObjectPropertyListenerProc listener, void* clientData) {
    if (removePropertyListener(kAudioObjectSystemObject, &kEveryProperty, listener, clientData) !=
        kAudioHardwareNoError) {
        platform::log::nslog("unregister listener error!");
    }
}
