#include "svc_restart_dialog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <winplat/comptr.h>
#include <winplat/commctrl.h>
#include <winplat/crt.h>
#include <winplat/winbase.h>
#include <winplat/winnetwk.h>
#include <winplat/winsvc.h>

#include "help_launcher.h"
#include "instance_file.h"
#include "svc_restart.h"
#include "text.h"

namespace {

constexpr int IDC_NAME = 201;
constexpr int IDC_HOST = 202;
constexpr int IDC_SERVICE = 203;
constexpr int IDC_HOST_BUTTON = 204;
constexpr int IDC_SERVICE_BUTTON = 205;
constexpr int IDC_HOST_LIST = 212;
constexpr int IDC_SERVICE_LIST = 213;
constexpr int IDC_COMMAND = 215;
constexpr int IDC_HELP_BUTTON = 9;

constexpr UINT IDS_EDIT_TITLE = 101;
constexpr UINT IDS_SERVICES_TITLE = 102;
constexpr UINT IDS_NETWORK_TITLE = 103;
constexpr UINT IDS_ILLEGAL_NAME = 105;
constexpr UINT IDS_ILLEGAL_CHARS = 106;
constexpr UINT IDS_NEW_TITLE = 107;

constexpr int kMaxFieldChars = 100;
constexpr char kSectionPrefix[] = "ServiceRestart";
constexpr char kLoadError[] = "Error loading the instance file";
constexpr char kEnumFailed[] =
    "Failed to enumerate Domain/Host Names. Please enter host name manually.";
constexpr char kNoMemory[] = "Insufficient memory to enumerate Domain/Host Names.";
constexpr DWORD kHostBufferStep = 1600;
constexpr DWORD kServiceBufferSize = 2048;

const char* const SERVICE_STATE_TEXT[] = {"Stopped.", "Starting.",         "Stopping.",
                                          "Running.", "Continue pending.", "Pause pending.",
                                          "Paused."};

void Log(const std::string& strText) {
    sentrel::WriteLogText(g_pHost, strText);
}

bool HoldsAnyOf(const std::string& strText, const char* pszSet) {
    // Multi-byte aware: a trail byte of a double-byte character never matches.
    for (const char* p = pszSet; *p; ++p)
        if (_mbschr(reinterpret_cast<const unsigned char*>(strText.c_str()),
                    static_cast<unsigned char>(*p)))
            return true;
    return false;
}

winplat::Bstr PathBstr(const std::string& strPath) {
    return winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strPath));
}

} // namespace

// ---------------------------------------------------------------------------------------
// The settings dialog

CSvcRestartDialog::CSvcRestartDialog(SvcRestart* pNotifier, const std::string& strDirectory,
                                     const std::string* pstrName)
    : afx::CDialog(IDD_SVCRESTART_SETTINGS), m_strDirectory(strDirectory), m_pNotifier(pNotifier) {
    if (pstrName) {
        m_strName = *pstrName;
        m_strOriginalName = *pstrName;
        m_bEdit = true;
    }
}

void CSvcRestartDialog::DoDataExchange(afx::CDataExchange* pDX) {
    afx::DDX_Text(pDX, IDC_HOST, m_strHost);
    afx::DDV_MaxChars(pDX, m_strHost, kMaxFieldChars);
    afx::DDX_Text(pDX, IDC_NAME, m_strName);
    afx::DDV_MaxChars(pDX, m_strName, kMaxFieldChars);
    afx::DDX_Text(pDX, IDC_SERVICE, m_strService);
    afx::DDV_MaxChars(pDX, m_strService, kMaxFieldChars);
    afx::DDX_CBString(pDX, IDC_COMMAND, m_strCommand);
}

BOOL CSvcRestartDialog::OnInitDialog() {
    afx::CDialog::OnInitDialog();
    if (!m_pNotifier)
        return TRUE;
    HWND hCommand = GetDlgItem(IDC_COMMAND);
    ::SendMessageA(hCommand, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Start"));
    ::SendMessageA(hCommand, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Stop"));
    ::SendMessageA(hCommand, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>("Start"));

    UINT nTitle = IDS_NEW_TITLE;
    if (m_bEdit) {
        std::string strPath = m_strDirectory + "\\" + m_strName;
        if (FAILED(m_pNotifier->LoadRestartInstance(PathBstr(strPath).Get(), m_strHost,
                                                    m_strService, m_strCommand))) {
            Log(strPath + kLoadError);
            MessageBox(kLoadError);
            return TRUE;
        }
        nTitle = IDS_EDIT_TITLE;
    } else {
        std::string strPath = m_strDirectory + "\\Default";
        if (FAILED(m_pNotifier->LoadRestartInstance(PathBstr(strPath).Get(), m_strHost,
                                                    m_strService, m_strCommand))) {
            Log(strPath + " - Failed to load notification from disk.\r\n");
            m_strCommand = "Start";
        }
    }
    // Notify starts only on exactly "Start"; whatever else is stored stops, and is shown so.
    if (m_strCommand != "Start")
        m_strCommand = "Stop";
    char szTitle[512] = {};
    LoadResourceText(nTitle, szTitle, sizeof szTitle);
    SetWindowText(szTitle);
    UpdateData(false);
    return TRUE;
}

BOOL CSvcRestartDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDC_HELP_BUTTON:
            OnHelp();
            return TRUE;
        case IDC_HOST_BUTTON:
            OnHostButton();
            return TRUE;
        case IDC_SERVICE_BUTTON:
            OnServiceButton();
            return TRUE;
        }
    }
    return afx::CDialog::OnCommand(wParam, lParam);
}

void CSvcRestartDialog::Refuse(const std::string& strText, int nFocus) {
    MessageBox(strText.c_str());
    ::SetFocus(GetDlgItem(nFocus));
}

void CSvcRestartDialog::OnOK() {
    if (!m_pNotifier)
        return;
    // The fields' limit of 100 characters ("Enter no more than 100 characters.") also keeps
    // every name within what an instance file's section holds.
    static_assert(kMaxFieldChars <= sentrel::MaxInstanceNameLength(kSectionPrefix));
    if (!UpdateData(true))
        return;
    if (m_strName.empty())
        return Refuse("Invalid value - The 'Name' field must have a value", IDC_NAME);
    if (m_strHost.empty())
        return Refuse("Invalid value - The 'Host' field must have a value", IDC_HOST);
    if (m_strService.empty())
        return Refuse("Invalid value - The 'Service' field must have a value", IDC_SERVICE);
    char szIllegal[64] = {};
    if (LoadResourceText(IDS_ILLEGAL_CHARS, szIllegal, sizeof szIllegal)) {
        char szText[512] = {};
        LoadResourceText(IDS_ILLEGAL_NAME, szText, sizeof szText);
        const std::pair<const std::string*, int> fields[] = {
            {&m_strName, IDC_NAME}, {&m_strHost, IDC_HOST}, {&m_strService, IDC_SERVICE}};
        for (const auto& [pField, nId] : fields)
            if (HoldsAnyOf(*pField, szIllegal))
                return Refuse(szText, nId);
    }
    std::string strPath = m_strDirectory + "\\" + m_strName;
    // Another instance's file (Default included) is never overwritten.
    if ((!m_bEdit || m_strName != m_strOriginalName) &&
        GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES)
        return Refuse("Instance name already exists.  Please choose another name.", IDC_NAME);
    // A file that was not written is not confirmed: the operator can correct or cancel.
    if (FAILED(m_pNotifier->SaveRestartInstance(PathBstr(strPath).Get(), m_strHost, m_strService,
                                                m_strCommand))) {
        MessageBox("Error saving Service Restart Notification instance file");
        return;
    }
    afx::CDialog::OnOK();
}

void CSvcRestartDialog::OnHostButton() {
    if (!UpdateData(true))
        return;
    CNetHostDialog dlg(m_hWnd);
    if (dlg.DoModal() != IDOK)
        return;
    m_strHost = dlg.m_strSelected;
    UpdateData(false);
}

void CSvcRestartDialog::OnServiceButton() {
    if (!UpdateData(true))
        return;
    if (m_strHost.empty())
        return Refuse("The 'Host' field must have a value", IDC_HOST);
    // The host exactly as typed: a placeholder is not expanded here.
    CServiceListDialog dlg(m_hWnd, m_strHost, m_strService, m_strName);
    if (dlg.DoModal() != IDOK)
        return;
    m_strService = dlg.m_strService;
    UpdateData(false);
}

void CSvcRestartDialog::OnHelp() {
    // The application's main window owns the help; a plug-in's is the active window.
    LaunchHelp(GetActiveWindow(), kRevocetHelpFile, IDD_SVCRESTART_SETTINGS);
}

// ---------------------------------------------------------------------------------------
// The host browser

void* (*CNetHostDialog::s_pfnReallocate)(void* p, size_t size) = &std::realloc;

CNetHostDialog::CNetHostDialog(HWND hWndParent) : afx::CDialog(IDD_NET_HOST, hWndParent) {}

BOOL CNetHostDialog::OnInitDialog() {
    afx::CDialog::OnInitDialog();
    HANDLE hEnum = nullptr;
    if (WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, RESOURCEUSAGE_CONTAINER, nullptr,
                      &hEnum) != NO_ERROR) {
        if (g_pHost) {
            Log(std::string(kEnumFailed) + "\r\n");
            MessageBox((std::string(kEnumFailed) + "\r\n").c_str());
        }
        return TRUE;
    }
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    DWORD dwCapacity = kHostBufferStep;
    std::unique_ptr<void, Free> buffer(s_pfnReallocate(nullptr, dwCapacity));
    if (!buffer) {
        WNetCloseEnum(hEnum);
        Log(std::string(kNoMemory) + "\r\n");
        MessageBox((std::string(kEnumFailed) + "\r\n").c_str());
        return TRUE;
    }
    std::memset(buffer.get(), 0, dwCapacity);

    HWND hList = GetDlgItem(IDC_HOST_LIST);
    auto list = [&](DWORD dwCount) {
        const auto* pRecords = static_cast<const NETRESOURCEA*>(buffer.get());
        for (DWORD i = 0; i < dwCount; ++i) {
            const NETRESOURCEA& r = pRecords[i];
            if ((r.dwDisplayType != RESOURCEDISPLAYTYPE_SERVER &&
                 r.dwDisplayType != RESOURCEDISPLAYTYPE_GENERIC) ||
                r.dwType != RESOURCETYPE_ANY || !r.lpRemoteName || std::strlen(r.lpRemoteName) < 2)
                continue;
            ::SendMessageA(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(r.lpRemoteName + 2));
        }
    };
    for (;;) {
        DWORD dwCount = 0xFFFFFFFF;
        DWORD dwSize = dwCapacity;
        DWORD dwResult = WNetEnumResourceA(hEnum, &dwCount, buffer.get(), &dwSize);
        if (dwResult == NO_ERROR) {
            list(dwCount);
            break;
        }
        if (GetLastError() != ERROR_MORE_DATA) {
            Log(std::string(kEnumFailed) + "\r\n");
            MessageBox((std::string(kEnumFailed) + "\r\n").c_str());
            break;
        }
        list(dwCount);
        // The next call gets the whole enlarged buffer and writes from its start.
        void* pLarger = s_pfnReallocate(buffer.get(), dwCapacity + kHostBufferStep);
        if (!pLarger) {
            Log(kNoMemory);
            WNetCloseEnum(hEnum);
            return TRUE;
        }
        buffer.release();
        buffer.reset(pLarger);
        dwCapacity += kHostBufferStep;
    }
    WNetCloseEnum(hEnum);
    buffer.reset();
    if (::SendMessageA(hList, LB_GETCOUNT, 0, 0) > 0)
        ::SendMessageA(hList, LB_SETCURSEL, 0, 0);
    char szTitle[512] = {};
    LoadResourceText(IDS_NETWORK_TITLE, szTitle, sizeof szTitle);
    SetWindowText(szTitle);
    UpdateData(false);
    return TRUE;
}

BOOL CNetHostDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_HELP_BUTTON) {
        OnHelp();
        return TRUE;
    }
    return afx::CDialog::OnCommand(wParam, lParam);
}

void CNetHostDialog::OnOK() {
    HWND hList = GetDlgItem(IDC_HOST_LIST);
    LRESULT nSel = ::SendMessageA(hList, LB_GETCURSEL, 0, 0);
    if (nSel != LB_ERR) {
        LRESULT nLength = ::SendMessageA(hList, LB_GETTEXTLEN, static_cast<WPARAM>(nSel), 0);
        if (nLength >= 0) {
            std::string strText(static_cast<size_t>(nLength) + 1, '\0');
            ::SendMessageA(hList, LB_GETTEXT, static_cast<WPARAM>(nSel),
                           reinterpret_cast<LPARAM>(strText.data()));
            strText.resize(std::strlen(strText.c_str()));
            m_strSelected = strText;
        }
    }
    afx::CDialog::OnOK();
}

void CNetHostDialog::OnHelp() {
    LaunchHelp(GetActiveWindow(), kRevocetHelpFile, IDD_NET_HOST);
}

// ---------------------------------------------------------------------------------------
// The service picker

CServiceListDialog::CServiceListDialog(HWND hWndParent, const std::string& strHost,
                                       const std::string& strService, const std::string& strName)
    : afx::CDialog(IDD_SERVICE_LIST, hWndParent), m_strHost(strHost), m_strService(strService),
      m_strName(strName) {}

void CServiceListDialog::AddRow(const char* pszName, const char* pszDisplayName, DWORD dwState) {
    HWND hList = GetDlgItem(IDC_SERVICE_LIST);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(::SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<LPSTR>(pszName ? pszName : "");
    int nRow = static_cast<int>(
        ::SendMessageA(hList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (nRow < 0)
        return;
    // A state outside the table shows nothing.
    const char* columns[] = {pszDisplayName ? pszDisplayName : "",
                             dwState >= 1 && dwState <= 7 ? SERVICE_STATE_TEXT[dwState - 1] : ""};
    for (int nColumn = 1; nColumn <= 2; ++nColumn) {
        LVITEMA sub{};
        sub.iSubItem = nColumn;
        sub.pszText = const_cast<LPSTR>(columns[nColumn - 1]);
        ::SendMessageA(hList, LVM_SETITEMTEXTA, static_cast<WPARAM>(nRow),
                       reinterpret_cast<LPARAM>(&sub));
    }
}

BOOL CServiceListDialog::OnInitDialog() {
    afx::CDialog::OnInitDialog();
    HWND hList = GetDlgItem(IDC_SERVICE_LIST);
    const char* headers[] = {"Name", "Display Name", "Status"};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = 120;
        column.pszText = const_cast<LPSTR>(headers[i]);
        column.iSubItem = i;
        ::SendMessageA(hList, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&column));
    }

    SC_HANDLE hManager = OpenSCManagerA(m_strHost.c_str(), nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (!hManager) {
        DWORD dwError = GetLastError();
        LPSTR pszText = nullptr;
        DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                     FORMAT_MESSAGE_FROM_SYSTEM,
                                 nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<LPSTR>(&pszText), 0, nullptr);
        if (!pszText)
            n = 0;
        if (g_pHost) {
            Log(m_strName);
            Log(" Failed to connect to Service Manager : Error Code ");
            Log(std::to_string(dwError));
            if (n > 1)
                Log(pszText);
            Log("\r\n");
        }
        if (n > 1)
            MessageBox(pszText);
        if (pszText)
            LocalFree(pszText);
        EndDialog(IDCANCEL);
        return TRUE;
    }

    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    DWORD dwSize = kServiceBufferSize;
    std::unique_ptr<void, Free> buffer(std::malloc(dwSize));
    DWORD dwResume = 0;
    while (buffer) {
        DWORD dwNeeded = 0, dwReturned = 0;
        BOOL bLast = EnumServicesStatusA(hManager, SERVICE_WIN32, SERVICE_STATE_ALL,
                                         static_cast<LPENUM_SERVICE_STATUSA>(buffer.get()), dwSize,
                                         &dwNeeded, &dwReturned, &dwResume);
        if (!bLast && GetLastError() != ERROR_MORE_DATA)
            break;
        const auto* pRecords = static_cast<const ENUM_SERVICE_STATUSA*>(buffer.get());
        for (DWORD i = 0; i < dwReturned; ++i)
            AddRow(pRecords[i].lpServiceName, pRecords[i].lpDisplayName,
                   pRecords[i].ServiceStatus.dwCurrentState);
        if (bLast)
            break;
        if (dwReturned == 0) {
            // A record larger than the buffer: make room for what remains, or the same
            // call would be repeated for ever.
            if (dwNeeded <= dwSize)
                break;
            dwSize = dwNeeded;
            buffer.reset(std::malloc(dwSize));
        }
    }
    CloseServiceHandle(hManager);

    if (::SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0) > 0) {
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageA(hList, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    }
    // The title is built in 260 bytes: a longer host name is cut, never overrun.
    char szTitle[260] = {};
    LoadResourceText(IDS_SERVICES_TITLE, szTitle, sizeof szTitle);
    std::string strTitle = szTitle + m_strHost;
    strTitle.resize(std::min(strTitle.size(), sizeof szTitle - 1));
    SetWindowText(strTitle);
    return TRUE;
}

BOOL CServiceListDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_HELP_BUTTON) {
        OnHelp();
        return TRUE;
    }
    return afx::CDialog::OnCommand(wParam, lParam);
}

void CServiceListDialog::OnOK() {
    HWND hList = GetDlgItem(IDC_SERVICE_LIST);
    int nRow = static_cast<int>(
        ::SendMessageA(hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (nRow >= 0) {
        char szName[1024] = {};
        LVITEMA item{};
        item.iSubItem = 0;
        item.pszText = szName;
        item.cchTextMax = sizeof szName;
        ::SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(nRow),
                       reinterpret_cast<LPARAM>(&item));
        m_strService = szName;
    }
    afx::CDialog::OnOK();
}

void CServiceListDialog::OnHelp() {
    LaunchHelp(GetActiveWindow(), kRevocetHelpFile, IDD_SERVICE_LIST);
}
