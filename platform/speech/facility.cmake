# Speech speaks with espeak-ng and plays through pcaudiolib (the audio library espeak-ng
# itself uses). Both are loaded at run time by their ABI names, so that creating a voice
# fails cleanly, rather than libwinplat failing to load, on a machine without them.
find_path(ESPEAK_NG_INCLUDE_DIR espeak-ng/speak_lib.h REQUIRED)
find_path(PCAUDIO_INCLUDE_DIR pcaudiolib/audio.h REQUIRED)
target_include_directories(winplat PRIVATE ${ESPEAK_NG_INCLUDE_DIR} ${PCAUDIO_INCLUDE_DIR})
target_compile_definitions(winplat PRIVATE WINPLAT_ESPEAK_LIBRARY="libespeak-ng.so.1"
                                           WINPLAT_PCAUDIO_LIBRARY="libpcaudio.so.0")
