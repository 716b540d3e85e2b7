// The contract between the host and the service-check plug-in Prowlet: the object the
// host drives (ISentrelSvcObj) and the host's object for a monitored machine
// (ISentrelCheckTarget). Windows' LONG is 32-bit; so are the result codes here.
#pragma once

#include <winplat/objbase.h>

inline constexpr IID IID_ISentrelSvcObj = {
    0xCE6DCF10, 0x1AAA, 0x11D3, {0xAC, 0xF2, 0x00, 0x20, 0xAF, 0x10, 0xAA, 0x31}};

// The log window message: wParam 0, lParam the zero-terminated ANSI line ending in CR LF,
// valid only during the call.
#define SENTREL_WM_LOG_LINE (0x0400 + 3)

class ISentrelCheckTarget;

// A service check object. The table holds exactly these ten methods after IUnknown's,
// in this order.
struct ISentrelSvcObj : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE LoadConfig(BSTR bstrProfilePath) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveConfig(BSTR bstrProfilePath) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeName(BSTR* pbstrTypeName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInstanceName(BSTR bstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE Check(ISentrelCheckTarget* pTarget, LONG* plResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE TransferData(BOOL bToPage) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePropertyPage(HWND hWndParent) = 0;
    virtual HRESULT STDMETHODCALLTYPE DestroyPropertyPage() = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowHelp(DWORD dwHelpId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLogWindow(HWND hWndLog) = 0;

protected:
    ~ISentrelSvcObj() = default;
};

// The host's object for the machine a check runs on. Not a COM interface: no reference
// counting, no HRESULTs. Its table begins with four operations of the host's own, which
// plug-ins never call, followed by the three that a check uses.
class ISentrelCheckTarget {
public:
    virtual const char* GetDeviceName() = 0;
    virtual DWORD GetDeviceId() = 0;
    virtual BOOL IsMonitored() = 0;
    virtual DWORD GetTimeout() = 0;
    // The network name or address of the machine, zero-terminated ANSI text; the same
    // text throughout one check.
    virtual const char* GetAddress() = 0;
    virtual void SetResult(LONG lResult) = 0;
    virtual void SetElapsedTime(DWORD dwMilliseconds) = 0;

protected:
    ~ISentrelCheckTarget() = default;
};
