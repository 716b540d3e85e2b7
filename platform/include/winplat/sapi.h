// The platform's text-to-speech voice. CoCreateInstance(CLSID_SpVoice) gives a voice that
// speaks on the platform's own speech thread, one text after the other, to the sound device
// or, when there is none, into WAV files in the speech spool folder (docs/speech.md).
#pragma once

#include "objbase.h"

inline constexpr CLSID CLSID_SpVoice = {
    0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
inline constexpr IID IID_ISpVoice = {
    0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};

#ifndef INFINITE
#define INFINITE 0xFFFFFFFF
#endif

// Flags of ISpVoice::Speak.
#define SPF_DEFAULT 0x0
// Queue the text and return at once; without it Speak returns when the text was spoken.
#define SPF_ASYNC 0x1
// Drop whatever this voice has queued or is speaking before the new text.
#define SPF_PURGEBEFORESPEAK 0x2

// ISpVoice::GetStatus: what a voice is doing.
#define SPRS_DONE 0x1        // nothing queued, nothing being spoken
#define SPRS_IS_SPEAKING 0x2 // a text of this voice is being spoken

typedef struct SPVOICESTATUS {
    ULONG ulCurrentStream;    // stream number being spoken, 0 when none
    ULONG ulLastStreamQueued; // stream number of the last text queued, 0 before the first
    DWORD dwRunningState;     // SPRS_DONE or SPRS_IS_SPEAKING
    ULONG ulStreamsPending;   // texts queued or being spoken
} SPVOICESTATUS;

// Speaking rate and volume are taken from the voice when a text is queued, so a text keeps
// the rate and volume that were set before its Speak call.
struct ISpVoice : IUnknown {
    // -10 (about three times slower) .. 0 (normal) .. 10 (about three times faster);
    // E_INVALIDARG outside, the rate stays as it was.
    virtual HRESULT STDMETHODCALLTYPE SetRate(LONG RateAdjust) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRate(LONG* pRateAdjust) = 0;
    // 0 (silent) .. 100 (full, the start value); E_INVALIDARG above 100, the volume stays.
    virtual HRESULT STDMETHODCALLTYPE SetVolume(USHORT usVolume) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVolume(USHORT* pusVolume) = 0;
    // Speaks plain text. A null text is allowed only with SPF_PURGEBEFORESPEAK (purge only).
    // *pulStreamNumber, when given, receives the number of the queued text (1, 2, ...).
    virtual HRESULT STDMETHODCALLTYPE Speak(LPCWSTR pwcs, DWORD dwFlags,
                                            ULONG* pulStreamNumber) = 0;
    // S_OK once everything queued on this voice was spoken, S_FALSE when the time ran out.
    virtual HRESULT STDMETHODCALLTYPE WaitUntilDone(ULONG msTimeout) = 0;
    // Pause holds the speech thread at the next piece of sound of this voice's text (all
    // voices share the one speech thread, so later texts of other voices wait as well);
    // Resume lets it go on. A paused voice still accepts texts.
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Resume() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatus(SPVOICESTATUS* pStatus) = 0;

protected:
    ~ISpVoice() = default;
};

// For a host that lives for one alert: waits until every voice of the process has spoken all
// it was given (TRUE), or until the time runs out (FALSE). Releasing a voice drops its
// unspoken texts, so a host waits before it lets go of the plug-in that holds the voice.
WINPLAT_API BOOL WinplatWaitForSpeech(DWORD dwMilliseconds);
// The POSIX path of the last WAV file the speech thread wrote in this process (empty when
// none). Returns the length of the path, or the size needed when the buffer is too small.
WINPLAT_API DWORD WinplatGetLastSpeechFile(LPSTR lpBuffer, DWORD nSize);
