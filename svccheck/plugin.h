// CPlugin: the "NT Service" check object that the host drives through ISentrelSvcObj.
#pragma once

#include <cstdarg>
#include <cstddef>

#include <sentrel/service_check.h>
#include <winplat/windows.h>

#include "dialogs.h"

namespace prowlet {

// {87B0F902-CF8A-11D2-9CC8-0040053DDA73}
inline constexpr CLSID CLSID_Prowlet = {
    0x87B0F902, 0xCF8A, 0x11D2, {0x9C, 0xC8, 0x00, 0x40, 0x05, 0x3D, 0xDA, 0x73}};

// The module this code runs in (set when the module is loaded).
HINSTANCE ModuleInstance();

class CPlugin : public ISentrelSvcObj {
public:
    CPlugin() = default;
    virtual ~CPlugin();
    CPlugin(const CPlugin&) = delete;
    CPlugin& operator=(const CPlugin&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE LoadConfig(BSTR bstrProfilePath) override;
    HRESULT STDMETHODCALLTYPE SaveConfig(BSTR bstrProfilePath) override;
    HRESULT STDMETHODCALLTYPE GetTypeName(BSTR* pbstrTypeName) override;
    HRESULT STDMETHODCALLTYPE SetInstanceName(BSTR bstrName) override;
    HRESULT STDMETHODCALLTYPE Check(ISentrelCheckTarget* pTarget, LONG* plResult) override;
    HRESULT STDMETHODCALLTYPE TransferData(BOOL bToPage) override;
    HRESULT STDMETHODCALLTYPE CreatePropertyPage(HWND hWndParent) override;
    HRESULT STDMETHODCALLTYPE DestroyPropertyPage() override;
    HRESULT STDMETHODCALLTYPE ShowHelp(DWORD dwHelpId) override;
    HRESULT STDMETHODCALLTYPE SetLogWindow(HWND hWndLog) override;

    // Writes "CLSID", "SERVICENAME" and "RESTART" (as "0" or "1"), in this order, into the
    // instance's section: S_FALSE, and nothing more written, when "CLSID" cannot be.
    // SaveConfig calls it once the page has handed over its values.
    HRESULT WriteConfig(const char* pszProfilePath);

private:
    // Formats one log line into a 512-byte buffer and sends it to the log window.
    void LogLine(const char* pszFormat, ...) const __attribute__((format(printf, 2, 3)));

    CPropertyDialog m_page;
    LONG m_cRef = 1;
    HWND m_hWndLog = nullptr;
    char m_szInstance[1024] = {};
    char m_szServiceName[512] = {};
    DWORD m_dwRestart = 0;
};

// Formats into a buffer of size bytes; a line too long for it is cut at a character
// boundary and keeps its final CR LF. Returns the length written.
size_t FormatLogLine(char* pszBuffer, size_t size, const char* pszFormat, va_list args);

} // namespace prowlet
