#include "svc_restart.h"

#include <strings.h>

#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winsvc.h>

#include "instance_file.h"
#include "profile_document.h"
#include "settings_dialog.h"
#include "svc_restart_dialog.h"
#include "text.h"

ISentrelNotifyHost* g_pHost = nullptr;

namespace {

constexpr char kSectionPrefix[] = "ServiceRestart";

// The objects of this module that are initialised, the last initialised first. g_pHost is
// the host of the first; the host calls every object on one thread, so no lock.
SvcRestart* g_pLastInitialized = nullptr;

// The class identifier as instance files hold it: StringFromCLSID's registry form.
std::string ClsidText() {
    LPOLESTR pszClsid = nullptr;
    if (FAILED(StringFromCLSID(CLSID_SvcRestart, &pszClsid)) || !pszClsid)
        return {};
    size_t cch = 0;
    while (pszClsid[cch])
        ++cch;
    std::string text = sentrel::AnsiFromWide(pszClsid, cch);
    CoTaskMemFree(pszClsid);
    return text;
}

struct Classified {
    HRESULT hr;
    const char* pszMessage;
};

Classified ClassifyStartError(DWORD dwError) {
    switch (dwError) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_SERVICE_DISABLED:
    case ERROR_SERVICE_DEPENDENCY_FAIL:
    case ERROR_SERVICE_LOGON_FAILED:
    case ERROR_SERVICE_MARKED_FOR_DELETE:
    case ERROR_SERVICE_DEPENDENCY_DELETED:
        return {E_SERVICE_CONTROL, " - StartService Failed. Cause: "};
    case ERROR_SERVICE_REQUEST_TIMEOUT:
    case ERROR_SERVICE_NO_THREAD:
    case ERROR_SERVICE_DATABASE_LOCKED:
        return {E_FAIL, " - StartService Failed. Cause: "};
    default: // ERROR_SERVICE_ALREADY_RUNNING among them
        return {S_OK, " - StartService Return: "};
    }
}

Classified ClassifyStopError(DWORD dwError, const SERVICE_STATUS& status) {
    switch (dwError) {
    case ERROR_SERVICE_REQUEST_TIMEOUT:
        return {E_FAIL, " ControlService Failed. Cause: "};
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
        if (status.dwCurrentState == SERVICE_START_PENDING)
            return {E_FAIL, " ControlService Failed. Cause: "};
        return {S_OK, " ControlService Return: "};
    case ERROR_SERVICE_NOT_ACTIVE:
        return {S_OK, " ControlService Return: "};
    default:
        return {E_SERVICE_CONTROL, " ControlService Failed. Cause: "};
    }
}

// Closes a service-manager handle when the call ends.
class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ServiceHandle() {
        if (m_handle)
            CloseServiceHandle(m_handle);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

} // namespace

std::string GetLastErrorText() {
    DWORD dwError = GetLastError();
    LPSTR pszText = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<LPSTR>(&pszText), 0, nullptr);
    std::string text = pszText ? pszText : "";
    if (pszText)
        LocalFree(pszText);
    return text;
}

SvcRestart::~SvcRestart() {
    UnInitialize();
}

HRESULT SvcRestart::InterfaceSupportsErrorInfo(REFIID riid) {
    return sentrel::NotifierSupportsErrorInfo(riid);
}

HRESULT SvcRestart::Initialize(IUnknown* pSentrelUnk) {
    if (m_bInitialized)
        return S_OK;
    if (!pSentrelUnk)
        return E_FAIL;
    HRESULT hr =
        pSentrelUnk->QueryInterface(IID_ISentrelNotifyHost, reinterpret_cast<void**>(&m_pHost));
    if (FAILED(hr) || !m_pHost) {
        m_pHost = nullptr;
        return E_FAIL;
    }
    m_bInitialized = true;
    m_pPrevInitialized = g_pLastInitialized;
    g_pLastInitialized = this;
    g_pHost = m_pHost;
    return S_OK;
}

HRESULT SvcRestart::UnInitialize() {
    if (!m_bInitialized)
        return S_OK;
    // g_pHost must not outlive the reference released here: it falls back to the host of
    // the object initialised before, if that one still holds it.
    for (SvcRestart** ppLink = &g_pLastInitialized; *ppLink;
         ppLink = &(*ppLink)->m_pPrevInitialized)
        if (*ppLink == this) {
            *ppLink = m_pPrevInitialized;
            break;
        }
    m_pPrevInitialized = nullptr;
    g_pHost = g_pLastInitialized ? g_pLastInitialized->m_pHost : nullptr;
    if (m_pHost) {
        m_pHost->Release();
        m_pHost = nullptr;
    }
    m_bInitialized = false;
    return S_OK;
}

void SvcRestart::LogLine(BSTR bstrPath, const std::string& strText) {
    if (!m_pHost)
        return;
    // The path exactly as the host passed it, not round-tripped through the code page.
    std::u16string line(bstrPath ? bstrPath : u"", bstrPath ? SysStringLen(bstrPath) : 0);
    winplat::Bstr tail = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strText + "\r\n"));
    line.append(tail.Get() ? tail.Get() : u"", tail.Length());
    winplat::Bstr text(line);
    m_pHost->WriteLog(1, text.Get());
}

bool SvcRestart::Expand(std::string& strText) {
    BSTR bstrText = sentrel::BstrFromAnsi(strText);
    HRESULT hr = m_pHost->ExpandVariables(&bstrText);
    // Whatever the answer, the BSTR now in place is ours.
    winplat::Bstr owned = winplat::Bstr::Adopt(bstrText);
    if (FAILED(hr))
        return false;
    strText = sentrel::AnsiFromBstr(owned.Get());
    return true;
}

HRESULT SvcRestart::Notify(BSTR bstrNotificationPathName) {
    if (!bstrNotificationPathName || bstrNotificationPathName[0] == u'\0')
        return E_FAIL;
    if (!m_pHost)
        return S_OK;

    std::string strHost, strService, strCommand;
    if (FAILED(LoadRestartInstance(bstrNotificationPathName, strHost, strService, strCommand))) {
        LogLine(bstrNotificationPathName, " - Failed to load notification from disk.");
        return E_FAIL;
    }
    if (strcasecmp(strHost.c_str(), "%H") == 0 && !Expand(strHost)) {
        LogLine(bstrNotificationPathName, " - Failed to format string %h.");
        return E_FAIL;
    }
    if (strcasecmp(strService.c_str(), "%V") == 0 && !Expand(strService)) {
        LogLine(bstrNotificationPathName, " - Failed to format string %v.");
        return E_FAIL;
    }

    ServiceHandle manager(OpenSCManagerA(strHost.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager.Get()) {
        LogLine(bstrNotificationPathName,
                " - Failed to connect to Service Manager. Cause: " + GetLastErrorText());
        return E_FAIL;
    }
    ServiceHandle service(OpenServiceA(manager.Get(), strService.c_str(),
                                       SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
    if (!service.Get()) {
        LogLine(bstrNotificationPathName, " - OpenService Failed. Cause: " + GetLastErrorText());
        return E_FAIL;
    }

    HRESULT hr = S_OK;
    if (strCommand == "Start") {
        if (StartServiceA(service.Get(), 0, nullptr)) {
            LogLine(bstrNotificationPathName,
                    " - StartService Return OK - Service was started successfully.");
        } else {
            Classified outcome = ClassifyStartError(GetLastError());
            LogLine(bstrNotificationPathName, outcome.pszMessage + GetLastErrorText());
            hr = outcome.hr;
        }
    } else {
        SERVICE_STATUS status{};
        if (ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
            LogLine(bstrNotificationPathName,
                    " - ControlService Stop Return OK - Service was stopped successfully.");
        } else {
            Classified outcome = ClassifyStopError(GetLastError(), status);
            LogLine(bstrNotificationPathName, outcome.pszMessage + GetLastErrorText());
            hr = outcome.hr;
        }
    }
    return hr; // the service handle closes first, then the manager's
}

HRESULT SvcRestart::LoadRestartInstance(BSTR bstrPath, std::string& strHost,
                                        std::string& strService, std::string& strCommand) {
    static const std::string strClsid = ClsidText();
    if (strClsid.empty())
        return E_FAIL;
    // Revocet has no older format: a file without a section does not load.
    const sentrel::InstanceFileType type{
        kSectionPrefix, strClsid.c_str(), {"Host", "Service", "Command"}, nullptr};
    sentrel::InstanceReader reader;
    reader.readKeys = [&](const CProfileDocument& doc, const std::string& strSection) {
        doc.GetValue(strSection.c_str(), "Host", "", strHost);
        doc.GetValue(strSection.c_str(), "Service", "", strService);
        doc.GetValue(strSection.c_str(), "Command", "", strCommand);
    };
    sentrel::InstanceRead read =
        sentrel::ReadInstanceFile(type, sentrel::AnsiFromBstr(bstrPath), nullptr, reader);
    return read == sentrel::InstanceRead::Read ? S_OK : E_FAIL;
}

HRESULT SvcRestart::SaveRestartInstance(BSTR bstrPath, const std::string& strHost,
                                        const std::string& strService,
                                        const std::string& strCommand) {
    std::string strPath = sentrel::AnsiFromBstr(bstrPath);
    CProfileDocument doc;
    std::string strSection = InstanceSectionName(kSectionPrefix, strPath.c_str());
    doc.SetValue(strSection.c_str(), "CLSID", ClsidText().c_str());
    doc.SetValue(strSection.c_str(), "Host", strHost.c_str());
    doc.SetValue(strSection.c_str(), "Service", strService.c_str());
    doc.SetValue(strSection.c_str(), "Command", strCommand.c_str());
    auto logLine = [&](const std::string& strText) {
        sentrel::WriteLogText(m_pHost, strPath + strText + "\r\n");
    };
    if (!sentrel::SaveInstanceDocument(doc, strPath, logLine)) {
        sentrel::WriteLogText(m_pHost,
                              strPath + " Service Restart Notification - Failed saving file.\r\n");
        return E_FAIL;
    }
    return S_OK;
}

namespace {

// The settings dialog the configuration methods run, for a new instance or an edit.
auto SettingsDialogOf(SvcRestart* pNotifier) {
    return [pNotifier](const std::string& strDirectory, const std::string* pstrName) {
        return CSvcRestartDialog(pNotifier, strDirectory, pstrName);
    };
}

} // namespace

HRESULT SvcRestart::NewInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) {
    return sentrel::RunSettingsDialog(bstrDirectory, pbstrName, false, true,
                                      SettingsDialogOf(this));
}

HRESULT SvcRestart::EditInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) {
    return sentrel::RunSettingsDialog(bstrDirectory, pbstrName, true, true, SettingsDialogOf(this));
}

HRESULT SvcRestart::GetIcon(HINSTANCE* phInstance, unsigned int* pnIconId) {
    if (phInstance)
        *phInstance = sentrel::ComponentModule::GetModuleInstance();
    if (pnIconId)
        *pnIconId = SVCRESTART_ICON;
    return S_OK;
}
