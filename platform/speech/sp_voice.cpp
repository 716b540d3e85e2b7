// The voice class CLSID_SpVoice, served by the platform itself: CoCreateInstance finds it
// among the built-in classes, entered when libwinplat is loaded.
#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include <winplat/sapi.h>
#include <winplat/utf.h>

#include "com/unknown_object.h"
#include "speech/speech_engine.h"

namespace winplat::speech {

namespace {

constexpr LONG kMinRate = -10;
constexpr LONG kMaxRate = 10;
constexpr USHORT kMaxVolume = 100;

class SpVoice final : public winplat::UnknownObject<ISpVoice, IID_ISpVoice> {
public:
    explicit SpVoice(ULONG voice) : m_voice(voice) {}
    // What the voice has not spoken yet goes with it.
    ~SpVoice() override { SpeechEngine::Instance().CloseVoice(m_voice); }

    HRESULT STDMETHODCALLTYPE SetRate(LONG RateAdjust) override {
        if (RateAdjust < kMinRate || RateAdjust > kMaxRate)
            return E_INVALIDARG;
        m_rate = RateAdjust;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRate(LONG* pRateAdjust) override {
        if (!pRateAdjust)
            return E_POINTER;
        *pRateAdjust = m_rate;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetVolume(USHORT usVolume) override {
        if (usVolume > kMaxVolume)
            return E_INVALIDARG;
        m_volume = usVolume;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVolume(USHORT* pusVolume) override {
        if (!pusVolume)
            return E_POINTER;
        *pusVolume = m_volume;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Speak(LPCWSTR pwcs, DWORD dwFlags, ULONG* pulStreamNumber) override {
        if (dwFlags & ~DWORD(SPF_ASYNC | SPF_PURGEBEFORESPEAK))
            return E_INVALIDARG;
        const bool purge = dwFlags & SPF_PURGEBEFORESPEAK;
        if (!pwcs && !purge)
            return E_INVALIDARG;
        SpeechEngine& engine = SpeechEngine::Instance();
        if (!pwcs) {
            engine.Purge(m_voice);
            return S_OK;
        }
        Utterance utterance;
        utterance.voice = m_voice;
        utterance.text = winplat::Utf8FromUtf16(pwcs); // espeak-ng reads UTF-8
        utterance.rate = m_rate;
        utterance.volume = m_volume;
        utterance.settings = ReadOutputSettings();
        ULONG stream = engine.Queue(std::move(utterance), purge);
        if (pulStreamNumber)
            *pulStreamNumber = stream;
        if (!(dwFlags & SPF_ASYNC))
            engine.Wait(m_voice, INFINITE);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WaitUntilDone(ULONG msTimeout) override {
        return SpeechEngine::Instance().Wait(m_voice, msTimeout) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        SpeechEngine::Instance().Pause(m_voice);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Resume() override {
        SpeechEngine::Instance().Resume(m_voice);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStatus(SPVOICESTATUS* pStatus) override {
        if (!pStatus)
            return E_POINTER;
        VoiceStatus status = SpeechEngine::Instance().Status(m_voice);
        pStatus->ulCurrentStream = status.currentStream;
        pStatus->ulLastStreamQueued = status.lastStreamQueued;
        pStatus->ulStreamsPending = status.pending;
        pStatus->dwRunningState = status.currentStream  ? SPRS_IS_SPEAKING
                                  : status.pending == 0 ? SPRS_DONE
                                                        : 0;
        return S_OK;
    }

private:
    const ULONG m_voice;
    std::atomic<LONG> m_rate{0};
    std::atomic<USHORT> m_volume{kMaxVolume};
};

HRESULT CreateSpVoice(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    ULONG voice = 0;
    HRESULT hr = SpeechEngine::Instance().OpenVoice(&voice);
    if (FAILED(hr))
        return hr;
    auto* pVoice = new (std::nothrow) SpVoice(voice);
    if (!pVoice) {
        SpeechEngine::Instance().CloseVoice(voice);
        return E_OUTOFMEMORY;
    }
    pVoice->AddRef();
    hr = pVoice->QueryInterface(riid, ppv);
    pVoice->Release();
    return hr;
}

struct RegisterVoiceClass {
    RegisterVoiceClass() { WinplatRegisterBuiltinClass(CLSID_SpVoice, &CreateSpVoice); }
} g_registerVoiceClass;

} // namespace

} // namespace winplat::speech

WINPLAT_API BOOL WinplatWaitForSpeech(DWORD dwMilliseconds) {
    return winplat::speech::SpeechEngine::Instance().Wait(0, dwMilliseconds) ? TRUE : FALSE;
}

WINPLAT_API DWORD WinplatGetLastSpeechFile(LPSTR lpBuffer, DWORD nSize) {
    const std::string path = winplat::speech::SpeechEngine::Instance().LastFile();
    if (!lpBuffer || nSize <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
