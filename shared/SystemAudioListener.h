#pragma once

#include "platform/audio/AudioObject.h"

// The one listener each program keeps: every property of the system audio object, with the
// program's delegate as client data. A failure is logged with the fixed line and otherwise
// ignored, so start-up goes on.
class SystemAudioListener {
public:
    SystemAudioListener() = delete;

    static void add(platform::audio::AudioObjectPropertyListenerProc listener, void* clientData);
    static void remove(platform::audio::AudioObjectPropertyListenerProc listener, void* clientData);
};
