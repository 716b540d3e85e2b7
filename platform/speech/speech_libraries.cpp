#include "speech/speech_libraries.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace winplat::speech {

namespace {

std::mutex g_mutex;

template <class T> bool Bind(void* hLibrary, const char* name, T* pfn) {
    *pfn = reinterpret_cast<T>(dlsym(hLibrary, name));
    return *pfn != nullptr;
}

// ALSA's error handler type; a handler that prints nothing.
typedef void (*AlsaErrorHandler)(const char*, int, const char*, int, const char*, ...);
void QuietAlsaHandler(const char*, int, const char*, int, const char*, ...) {}

} // namespace

const EspeakLibrary* LoadEspeak(std::string* pError) {
    std::lock_guard lock(g_mutex);
    // Loaded libraries stay loaded: espeak-ng keeps a thread of its own that outlives any
    // attempt to shut it down cleanly.
    static std::map<std::string, EspeakLibrary> loaded;
    const char* env = std::getenv("SENTREL_ESPEAK_LIBRARY");
    std::string name = env && *env ? env : WINPLAT_ESPEAK_LIBRARY;
    if (auto it = loaded.find(name); it != loaded.end())
        return &it->second;
    void* hLibrary = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!hLibrary) {
        const char* why = dlerror();
        *pError = why ? why : "cannot load " + name;
        return nullptr;
    }
    EspeakLibrary lib;
    if (!Bind(hLibrary, "espeak_Initialize", &lib.Initialize) ||
        !Bind(hLibrary, "espeak_SetSynthCallback", &lib.SetSynthCallback) ||
        !Bind(hLibrary, "espeak_SetVoiceByName", &lib.SetVoiceByName) ||
        !Bind(hLibrary, "espeak_SetParameter", &lib.SetParameter) ||
        !Bind(hLibrary, "espeak_Synth", &lib.Synth)) {
        *pError = name + " is not espeak-ng";
        dlclose(hLibrary);
        return nullptr;
    }
    return &loaded.emplace(name, lib).first->second;
}

const AudioLibrary* LoadAudio() {
    std::lock_guard lock(g_mutex);
    static bool tried = false;
    static AudioLibrary lib;
    static bool ok = false;
    if (tried)
        return ok ? &lib : nullptr;
    tried = true;
    void* hLibrary = dlopen(WINPLAT_PCAUDIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!hLibrary)
        return nullptr;
    ok = Bind(hLibrary, "create_audio_device_object", &lib.CreateDevice) &&
         Bind(hLibrary, "audio_object_open", &lib.Open) &&
         Bind(hLibrary, "audio_object_close", &lib.Close) &&
         Bind(hLibrary, "audio_object_destroy", &lib.Destroy) &&
         Bind(hLibrary, "audio_object_write", &lib.Write) &&
         Bind(hLibrary, "audio_object_drain", &lib.Drain) &&
         Bind(hLibrary, "audio_object_flush", &lib.Flush);
    return ok ? &lib : nullptr;
}

void SetAlsaQuiet(bool bQuiet) {
    void* hAlsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (!hAlsa)
        return;
    typedef int (*SetHandler)(AlsaErrorHandler);
    if (auto pfn = reinterpret_cast<SetHandler>(dlsym(hAlsa, "snd_lib_error_set_handler")))
        pfn(bQuiet ? &QuietAlsaHandler : nullptr);
    dlclose(hAlsa); // drops only the reference RTLD_NOLOAD took
}

} // namespace winplat::speech
