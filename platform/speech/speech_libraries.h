// espeak-ng and pcaudiolib, loaded at run time: a process that never creates a voice never
// loads them, and a machine without them still runs everything but speech.
#pragma once

#include <string>

#include <espeak-ng/speak_lib.h>
#include <pcaudiolib/audio.h>

namespace winplat::speech {

struct EspeakLibrary {
    decltype(&espeak_Initialize) Initialize = nullptr;
    decltype(&espeak_SetSynthCallback) SetSynthCallback = nullptr;
    decltype(&espeak_SetVoiceByName) SetVoiceByName = nullptr;
    decltype(&espeak_SetParameter) SetParameter = nullptr;
    decltype(&espeak_Synth) Synth = nullptr;
};

struct AudioLibrary {
    decltype(&create_audio_device_object) CreateDevice = nullptr;
    decltype(&audio_object_open) Open = nullptr;
    decltype(&audio_object_close) Close = nullptr;
    decltype(&audio_object_destroy) Destroy = nullptr;
    decltype(&audio_object_write) Write = nullptr;
    decltype(&audio_object_drain) Drain = nullptr;
    decltype(&audio_object_flush) Flush = nullptr;
};

// The library named by SENTREL_ESPEAK_LIBRARY, else the one the platform was built with.
// Null, with the reason in *pError, when it cannot be loaded.
const EspeakLibrary* LoadEspeak(std::string* pError);
// Null when pcaudiolib cannot be loaded (then there is no sound device).
const AudioLibrary* LoadAudio();

// Switches the ALSA library's error printing off and on again, when that library is loaded:
// probing for a device on a machine without one would otherwise fill standard error.
void SetAlsaQuiet(bool bQuiet);

} // namespace winplat::speech
