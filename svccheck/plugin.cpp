// CPlugin: settings in the host's profile file, the service check with its optional
// restart, and the log lines it writes to the host's log window.
#include "plugin.h"

#include <cstdio>
#include <cstring>

#include <winplat/commctrl.h>
#include <winplat/htmlhelp.h>
#include <winplat/resource.h>
#include <winplat/winsvc.h>

namespace prowlet {

namespace {

char g_anchor; // any address inside this module identifies it
HINSTANCE g_hInstance = nullptr;

// The module's start-up work when the process loads it: the common controls (the service
// picker's list view needs them) and its instance handle.
__attribute__((constructor)) void AttachModule() {
    InitCommonControls();
    g_hInstance = WinplatModuleFromAddress(&g_anchor);
}

constexpr char kTypeName[] = "NT Service";

// Converts a BSTR into a fixed buffer in the ANSI code page. False for a missing text
// or one that does not fit: such a name is refused, never cut into another name.
bool ToAnsi(BSTR bstrText, char* pszBuffer, int cbBuffer) {
    if (!bstrText)
        return false;
    if (bstrText[0] == u'\0') {
        pszBuffer[0] = '\0';
        return true;
    }
    return WideCharToMultiByte(CP_ACP, 0, bstrText, -1, pszBuffer, cbBuffer, nullptr, nullptr) > 0;
}

// The system's text for an error code, empty when it has none.
void ReasonText(DWORD dwError, char* pszReason, DWORD cbReason) {
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwError, 0, pszReason, cbReason,
                        nullptr))
        pszReason[0] = '\0';
}

} // namespace

HINSTANCE ModuleInstance() {
    return g_hInstance;
}

void SendLogLine(HWND hWndLog, const char* pszLine) {
    if (hWndLog && IsWindow(hWndLog))
        SendMessageA(hWndLog, kLogMessage, 0, reinterpret_cast<LPARAM>(pszLine));
}

size_t FormatLogLine(char* pszBuffer, size_t size, const char* pszFormat, va_list args) {
    int n = std::vsnprintf(pszBuffer, size, pszFormat, args);
    if (n < 0) {
        pszBuffer[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(n) < size)
        return static_cast<size_t>(n);
    // Too long: keep whole characters up to the room left for CR LF and the terminator.
    const size_t room = size - 3;
    const char* p = pszBuffer;
    for (;;) {
        const char* next = CharNextA(p);
        if (next == p || static_cast<size_t>(next - pszBuffer) > room)
            break;
        p = next;
    }
    size_t at = static_cast<size_t>(p - pszBuffer);
    std::memcpy(pszBuffer + at, "\r\n", 3);
    return at + 2;
}

CPlugin::~CPlugin() = default;

void CPlugin::LogLine(const char* pszFormat, ...) const {
    char szLine[512];
    va_list args;
    va_start(args, pszFormat);
    FormatLogLine(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    SendLogLine(m_hWndLog, szLine);
}

HRESULT CPlugin::QueryInterface(REFIID riid, void** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISentrelSvcObj) {
        *ppvObject = static_cast<ISentrelSvcObj*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG CPlugin::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG CPlugin::Release() {
    LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef <= 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(cRef);
}

HRESULT CPlugin::LoadConfig(BSTR bstrProfilePath) {
    char szPath[MAX_PATH];
    if (!ToAnsi(bstrProfilePath, szPath, sizeof szPath))
        return E_INVALIDARG;
    GetPrivateProfileStringA(m_szInstance, "SERVICENAME", "", m_szServiceName,
                             sizeof m_szServiceName, szPath);
    m_dwRestart = GetPrivateProfileIntA(m_szInstance, "RESTART", 0, szPath);
    return S_OK;
}

HRESULT CPlugin::SaveConfig(BSTR bstrProfilePath) {
    char szPath[MAX_PATH];
    if (!ToAnsi(bstrProfilePath, szPath, sizeof szPath))
        return E_INVALIDARG;
    if (!m_page.m_hWnd)
        return S_FALSE;
    TransferData(FALSE);
    return WriteConfig(szPath);
}

HRESULT CPlugin::WriteConfig(const char* pszProfilePath) {
    char szClsid[255] = {};
    LPOLESTR pszClsid = nullptr;
    if (SUCCEEDED(StringFromCLSID(CLSID_Prowlet, &pszClsid))) {
        WideCharToMultiByte(CP_ACP, 0, pszClsid, -1, szClsid, sizeof szClsid, nullptr, nullptr);
        CoTaskMemFree(pszClsid);
    }
    if (!WritePrivateProfileStringA(m_szInstance, "CLSID", szClsid, pszProfilePath))
        return S_FALSE;
    WritePrivateProfileStringA(m_szInstance, "SERVICENAME", m_szServiceName, pszProfilePath);
    WritePrivateProfileStringA(m_szInstance, "RESTART", m_dwRestart ? "1" : "0", pszProfilePath);
    return S_OK;
}

HRESULT CPlugin::GetTypeName(BSTR* pbstrTypeName) {
    if (!pbstrTypeName)
        return E_INVALIDARG;
    OLECHAR szName[sizeof kTypeName];
    for (size_t i = 0; i < sizeof kTypeName; ++i)
        szName[i] = static_cast<OLECHAR>(kTypeName[i]);
    *pbstrTypeName = SysAllocString(szName);
    return *pbstrTypeName ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPlugin::SetInstanceName(BSTR bstrName) {
    char szName[sizeof m_szInstance];
    if (!ToAnsi(bstrName, szName, sizeof szName))
        return E_INVALIDARG;
    std::memcpy(m_szInstance, szName, sizeof m_szInstance);
    return S_OK;
}

HRESULT CPlugin::Check(ISentrelCheckTarget* pTarget, LONG* plResult) {
    const DWORD dwStart = GetTickCount();
    if (!pTarget || !plResult)
        return E_INVALIDARG;

    LONG lResult = 1;
    char szReason[512];
    LogLine("Checking the NT Service %s on %s\r\n", m_szServiceName, pTarget->GetAddress());
    SC_HANDLE hManager =
        OpenSCManagerA(pTarget->GetAddress(), nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (!hManager) {
        DWORD dwError = GetLastError();
        lResult = static_cast<LONG>(dwError);
        ReasonText(dwError, szReason, sizeof szReason);
        LogLine("Failed to open the Service Control Manager for the NT Service %s on %s. "
                "Reason: %s\r\n",
                m_szServiceName, pTarget->GetAddress(), szReason);
    } else {
        SC_HANDLE hService = OpenServiceA(hManager, m_szServiceName, SERVICE_QUERY_STATUS);
        SERVICE_STATUS status = {};
        if (!hService) {
            DWORD dwError = GetLastError();
            lResult = static_cast<LONG>(dwError);
            ReasonText(dwError, szReason, sizeof szReason);
            LogLine("Failed to open the NT Service %s on %s. Reason: %s\r\n", m_szServiceName,
                    pTarget->GetAddress(), szReason);
            LogLine("The check of the NT Service %s on %s failed.\r\n", m_szServiceName,
                    pTarget->GetAddress());
        } else if (!QueryServiceStatus(hService, &status)) {
            DWORD dwError = GetLastError();
            lResult = static_cast<LONG>(dwError);
            ReasonText(dwError, szReason, sizeof szReason);
            LogLine("QueryServiceStatus() API failed for NT Service %s on %s. Reason: %s\r\n",
                    m_szServiceName, pTarget->GetAddress(), szReason);
            LogLine("The check of the NT Service %s on %s failed.\r\n", m_szServiceName,
                    pTarget->GetAddress());
        } else {
            LogLine("%s(%s) SERVICE_STATUS dwServiceType=%08X, dwCurrentState=%08X, "
                    "dwControlsAccepted=%08X, dwWin32ExitCode=%u (%08X), "
                    "dwServiceSpecificExitCode=%u (%08X), dwCheckPoint=%u, dwWaitHint=%umSec\r\n",
                    pTarget->GetAddress(), m_szServiceName, status.dwServiceType,
                    status.dwCurrentState, status.dwControlsAccepted, status.dwWin32ExitCode,
                    status.dwWin32ExitCode, status.dwServiceSpecificExitCode,
                    status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint);
            if (status.dwCurrentState == SERVICE_RUNNING) {
                lResult = 0;
                LogLine("The check of the NT Service %s on %s succeeded.\r\n", m_szServiceName,
                        pTarget->GetAddress());
            } else if (!m_dwRestart) {
                LogLine("The check of the NT Service %s on %s failed.\r\n", m_szServiceName,
                        pTarget->GetAddress());
            } else {
                LogLine("Attempting to RESTART the NT Service %s on %s.\r\n", m_szServiceName,
                        pTarget->GetAddress());
                CloseServiceHandle(hService);
                hService = OpenServiceA(hManager, m_szServiceName, SERVICE_START);
                if (!hService) {
                    ReasonText(GetLastError(), szReason, sizeof szReason);
                    LogLine("Failed to open the NT Service %s on %s. Reason: %s\r\n",
                            m_szServiceName, pTarget->GetAddress(), szReason);
                    LogLine("The RESTART the NT Service %s on %s failed.\r\n", m_szServiceName,
                            pTarget->GetAddress());
                    LogLine("The check of the NT Service %s on %s failed.\r\n", m_szServiceName,
                            pTarget->GetAddress());
                } else if (StartServiceA(hService, 0, nullptr)) {
                    lResult = 0;
                    LogLine("The RESTART the NT Service %s on %s was successful.\r\n",
                            m_szServiceName, pTarget->GetAddress());
                    LogLine("The check of the NT Service %s on %s succeeded.\r\n", m_szServiceName,
                            pTarget->GetAddress());
                } else {
                    LogLine("The RESTART the NT Service %s on %s failed.\r\n", m_szServiceName,
                            pTarget->GetAddress());
                    LogLine("The check of the NT Service %s on %s failed.\r\n", m_szServiceName,
                            pTarget->GetAddress());
                }
            }
        }
        if (hService)
            CloseServiceHandle(hService);
        CloseServiceHandle(hManager);
    }

    pTarget->SetElapsedTime(GetTickCount() - dwStart);
    pTarget->SetResult(lResult);
    *plResult = lResult;
    return S_OK;
}

HRESULT CPlugin::TransferData(BOOL bToPage) {
    // Controls 1000 and 1001 live on the page's window; without a page there is nothing
    // to move.
    return S_OK;
}

HRESULT CPlugin::CreatePropertyPage(HWND hWndParent) {
    if (!m_page.m_hWnd) {
        m_page.m_hWndLog = m_hWndLog;
        // The page's window is made from dialog template 1003 by the dialog toolkit; until
        // that exists the page cannot be created.
        return S_FALSE;
    }
    return S_OK;
}

HRESULT CPlugin::DestroyPropertyPage() {
    // No page window can exist yet (see CreatePropertyPage), so there is none to close.
    return S_OK;
}

HRESULT CPlugin::ShowHelp(DWORD dwHelpId) {
    HWND hWndOwner = m_page.m_hWnd;
    char szHelpFile[512] = {};
    DWORD cch = GetModuleFileNameA(g_hInstance, szHelpFile, sizeof szHelpFile);
    if (cch == 0 || cch >= sizeof szHelpFile)
        return S_OK;
    // The help file lies beside the module under its base name: the path is cut at the last
    // "." of the file name (never at one in a folder's name) and ".chm" appended.
    char* pszDot = nullptr;
    for (char* p = szHelpFile; *p; p = CharNextA(p)) { // by characters: no trail byte counts
        if (*p == '.')
            pszDot = p;
        else if (*p == '\\')
            pszDot = nullptr;
    }
    if (pszDot)
        *pszDot = '\0';
    if (std::strlen(szHelpFile) + sizeof ".chm" > sizeof szHelpFile)
        return S_OK;
    std::strcat(szHelpFile, ".chm");

    if (GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) < 0) {
        char szText[64];
        std::snprintf(szText, sizeof szText, "Help system is being called with ID: %u",
                      static_cast<unsigned>(dwHelpId));
        MessageBoxA(hWndOwner, szText, "", MB_OK);
    }
    if (HtmlHelpA(hWndOwner, szHelpFile, HH_HELP_CONTEXT, dwHelpId))
        return S_OK;
    if (HtmlHelpA(hWndOwner, szHelpFile, HH_DISPLAY_TOPIC, 0))
        return S_OK;
    char szError[700];
    std::snprintf(szError, sizeof szError,
                  "ERROR: Could not load the help file %s.\r\n\r\nProbable causes are that the "
                  "file does not exists or the HTML Help support system is not installed on the "
                  "computer.",
                  szHelpFile);
    MessageBoxA(hWndOwner, szError, "Help File Load Error", MB_OK);
    return S_OK;
}

HRESULT CPlugin::SetLogWindow(HWND hWndLog) {
    m_hWndLog = hWndLog;
    return S_OK;
}

} // namespace prowlet
