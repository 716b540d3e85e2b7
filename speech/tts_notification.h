// TTSNotification: speaks an instance's message, expanded by the host, at the instance's
// rate and volume through the platform's speech voice.
#pragma once

#include <string>

#include <sentrel/notification.h>
#include <winplat/sapi.h>

#include "component.h"
#include "notification_interfaces.h"

// {44440FAF-3359-11D5-8075-00E0295E9283}: the class, and the type of its instance files.
inline constexpr CLSID CLSID_TTSNotification = {
    0x44440FAF, 0x3359, 0x11D5, {0x80, 0x75, 0x00, 0xE0, 0x29, 0x5E, 0x92, 0x83}};

inline constexpr UINT TTS_ICON = 202;         // the one the host is given
inline constexpr UINT TTS_SPEAKER_ICON = 201; // carried, reported by nothing
inline constexpr UINT IDS_SAPI_ERROR_1 = 105; // the voice cannot be created, first part
inline constexpr UINT IDS_SAPI_ERROR_2 = 106; // and second part
inline constexpr int TTS_V6_CHUNK = 1023;     // a version 6 message is read in such pieces

// Holds the platform voice: created by Initialize (or on demand by Speak), one reference.
class CSpeechVoice {
public:
    CSpeechVoice() = default;
    CSpeechVoice(const CSpeechVoice&) = delete;
    CSpeechVoice& operator=(const CSpeechVoice&) = delete;
    ~CSpeechVoice();

    bool CreateVoice();
    void ReleaseVoice();
    HRESULT Speak(const OLECHAR* pwszText, DWORD dwFlags);
    // Out-of-range values are spoken as normal speed and full volume.
    HRESULT SetRate(int nRate);
    HRESULT SetVolume(int nVolume);

    static int GetMinRate() { return -10; }
    static int GetMaxRate() { return 10; }
    static int GetMinVolume() { return 0; }
    static int GetMaxVolume() { return 100; }

    bool IsCreated() const { return m_bCreated; }

private:
    ISpVoice* m_pVoice = nullptr;
    bool m_bCreated = false;
};

class TTSNotification
    : public sentrel::ComObjectRoot<ISupportErrorInfo, ISentrelNotification,
                                    ISentrelNotificationConfig, ISentrelNotificationWeb> {
public:
    TTSNotification() = default;
    virtual ~TTSNotification();

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // ISentrelNotification
    HRESULT STDMETHODCALLTYPE Initialize(IUnknown* pSentrelUnk) override;
    HRESULT STDMETHODCALLTYPE UnInitialize() override;
    HRESULT STDMETHODCALLTYPE Notify(BSTR bstrNotificationPathName) override;

    // ISentrelNotificationConfig
    HRESULT STDMETHODCALLTYPE NewInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) override;
    HRESULT STDMETHODCALLTYPE EditInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) override;
    HRESULT STDMETHODCALLTYPE GetIcon(HINSTANCE* phInstance, unsigned int* pnIconId) override;

    // ISentrelNotificationWeb
    HRESULT STDMETHODCALLTYPE GetNewPage(BSTR bstrDirectory, BSTR* pbstrHtml) override;
    HRESULT STDMETHODCALLTYPE GetEditPage(BSTR bstrInstancePath, BSTR* pbstrHtml) override;
    HRESULT STDMETHODCALLTYPE ApplyPostedForm(BSTR bstrDirectory, BSTR bstrFormData) override;

    // Instance files. Rate and volume are in/out (the caller presets them); the message
    // lines are appended to strMessage, joined by CR LF.
    HRESULT LoadSpeechInstance(BSTR bstrPath, int* pnRate, int* pnVolume, std::string& strMessage);
    HRESULT SaveSpeechInstance(BSTR bstrPath, int nRate, int nVolume,
                               const std::string& strMessage);
    // A version 6 record: signature, rate, volume, message length and message.
    HRESULT ReadVersion6SpeechInstance(BSTR bstrPath, int* pnRate, int* pnVolume,
                                       std::string& strMessage);

    const CSpeechVoice& Voice() const { return m_voice; }

    // A log line naming an instance: the path as the host gave it, the text, then CR LF,
    // in three WriteLog calls, while a host interface is held.
    void LogLine(BSTR bstrPath, const char* pszText);

private:
    void Log(const std::u16string& text);

    ISentrelNotifyHost* m_pHost = nullptr;
    CSpeechVoice m_voice;
    bool m_bInitialized = false;
};
