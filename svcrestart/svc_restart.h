// SvcRestart: starts a service, or sends it the stop control, on the machine an instance
// file names, and reports the outcome to the host's log.
#pragma once

#include <string>

#include <sentrel/notification.h>

#include "component.h"
#include "notification_interfaces.h"

// {F28C09E9-D135-4E93-AD37-73CCA41E8D2A}
inline constexpr CLSID CLSID_SvcRestart = {
    0xF28C09E9, 0xD135, 0x4E93, {0xAD, 0x37, 0x73, 0xCC, 0xA4, 0x1E, 0x8D, 0x2A}};

// The service manager refused the start or stop.
#define E_SERVICE_CONTROL ((HRESULT)0x80140001)

inline constexpr UINT SVCRESTART_ICON = 206;       // 16x16, the one the host shows
inline constexpr UINT SVCRESTART_LARGE_ICON = 201; // 32x32, reported by nothing

class SvcRestart : public sentrel::ComObjectRoot<ISupportErrorInfo, ISentrelNotification,
                                                 ISentrelNotificationConfig> {
public:
    SvcRestart() = default;
    virtual ~SvcRestart();

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

    // Instance files: "[ServiceRestart\<name>]" with CLSID, Host, Service and Command.
    // Loading overwrites the three texts once the CLSID matches.
    HRESULT LoadRestartInstance(BSTR bstrPath, std::string& strHost, std::string& strService,
                                std::string& strCommand);
    HRESULT SaveRestartInstance(BSTR bstrPath, const std::string& strHost,
                                const std::string& strService, const std::string& strCommand);

private:
    // One WriteLog call at level 1: the path as the host gave it, then the text.
    void LogLine(BSTR bstrPath, const std::string& strText);
    // Asks the host to expand a placeholder in place; false when it fails.
    bool Expand(std::string& strText);

    bool m_bInitialized = false;
    ISentrelNotifyHost* m_pHost = nullptr;
    SvcRestart* m_pPrevInitialized = nullptr; // the objects initialised before this one
};

// The host callback through which the dialogs log: that of the object initialised last
// among those still initialised, or null. It never outlives the reference it copies.
extern ISentrelNotifyHost* g_pHost;

// The system's text for the calling thread's last error, as the platform gives it (with
// its line end); empty when there is none.
std::string GetLastErrorText();
