#include "syslog_dialog.h"

#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winsock.h>

#include "help_launcher.h"
#include "instance_file.h"
#include "syslog.h"
#include "text.h"

namespace {

constexpr int IDC_NAME = 201;
constexpr int IDC_PORT = 203;
constexpr int IDC_ADDRESS = 206;
constexpr int IDC_MESSAGE = 205;
constexpr int IDC_HELP_BUTTON = 9;

constexpr UINT IDS_EDIT_TITLE = 101;
constexpr UINT IDS_NAME_EMPTY = 103;
constexpr UINT IDS_ILLEGAL_CHARS = 104;
constexpr UINT IDS_ILLEGAL_NAME = 105;
constexpr UINT IDS_NAME_EXISTS = 106;
constexpr UINT IDS_BAD_PORT = 107;
constexpr UINT IDS_ADDRESS_EMPTY = 108;
constexpr UINT IDS_BAD_ADDRESS = 109;
constexpr UINT IDS_MESSAGE_EMPTY = 110;
constexpr UINT IDS_SAVE_FAILED = 111;
constexpr UINT IDS_LOAD_FAILED = 112;

} // namespace

CSyslogSettingsDialog::CSyslogSettingsDialog(SysLog* pNotifier, const std::string& strDirectory,
                                             const std::string* pstrName)
    : afx::CDialog(IDD_SYSLOG_SETTINGS), m_strDirectory(strDirectory), m_nPort(SYSLOG_DEFAULT_PORT),
      m_pNotifier(pNotifier) {
    if (pstrName) {
        m_strName = *pstrName;
        m_strOriginalName = *pstrName;
        m_bEdit = true;
    }
}

void CSyslogSettingsDialog::DoDataExchange(afx::CDataExchange* pDX) {
    afx::DDX_Text(pDX, IDC_NAME, m_strName);
    afx::DDX_Text(pDX, IDC_PORT, m_nPort);
    afx::DDX_Text(pDX, IDC_ADDRESS, m_strAddress);
    afx::DDX_Text(pDX, IDC_MESSAGE, m_strMessage);
}

BOOL CSyslogSettingsDialog::OnInitDialog() {
    if (!m_pNotifier)
        return TRUE;
    LONG nPort = m_nPort;
    if (m_bEdit) {
        winplat::Bstr bstrPath =
            winplat::Bstr::Adopt(sentrel::BstrFromAnsi(m_strDirectory + "\\" + m_strName));
        if (FAILED(m_pNotifier->LoadSyslogInstance(bstrPath.Get(), nPort, m_strAddress,
                                                   m_strMessage))) {
            Refuse(IDS_LOAD_FAILED, 0);
            return TRUE;
        }
        char szTitle[512] = {};
        LoadResourceText(IDS_EDIT_TITLE, szTitle, sizeof szTitle);
        SetWindowText(szTitle);
        m_bChanged = false;
    } else {
        // The Default instance, when it can be read, presets a new one.
        winplat::Bstr bstrDefault =
            winplat::Bstr::Adopt(sentrel::BstrFromAnsi(m_strDirectory + "\\Default"));
        m_pNotifier->LoadSyslogInstance(bstrDefault.Get(), nPort, m_strAddress, m_strMessage);
    }
    m_nPort = static_cast<int>(nPort);
    UpdateData(false);
    return TRUE;
}

BOOL CSyslogSettingsDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (HIWORD(wParam) == EN_CHANGE &&
        (id == IDC_NAME || id == IDC_PORT || id == IDC_ADDRESS || id == IDC_MESSAGE)) {
        m_bChanged = true;
        return TRUE;
    }
    if (HIWORD(wParam) == BN_CLICKED && id == IDC_HELP_BUTTON) {
        OnHelp();
        return TRUE;
    }
    return afx::CDialog::OnCommand(wParam, lParam);
}

void CSyslogSettingsDialog::RefuseText(const std::string& strText, int nFocus) {
    std::string strCaption = afx::AfxGetAppName();
    MessageBox(strText.c_str(), strCaption.c_str(), MB_OK | MB_ICONWARNING);
    if (nFocus)
        ::SetFocus(GetDlgItem(nFocus));
}

void CSyslogSettingsDialog::Refuse(UINT nTextId, int nFocus) {
    char szText[512] = {};
    LoadResourceText(nTextId, szText, sizeof szText);
    RefuseText(szText, nFocus);
}

void CSyslogSettingsDialog::OnOK() {
    if (!m_pNotifier)
        return;
    if (m_bChanged) {
        BOOL bNumber = FALSE;
        int nPort = static_cast<int>(GetDlgItemInt(m_hWnd, IDC_PORT, &bNumber, TRUE));
        if (!bNumber || nPort < 1 || nPort > 65534)
            return Refuse(IDS_BAD_PORT, IDC_PORT);
        if (!UpdateData(true))
            return;
        if (m_strName.empty())
            return Refuse(IDS_NAME_EMPTY, IDC_NAME);
        char szIllegal[63] = {};
        LoadResourceText(IDS_ILLEGAL_CHARS, szIllegal, sizeof szIllegal);
        if (m_strName.find_first_of(szIllegal) != std::string::npos)
            return Refuse(IDS_ILLEGAL_NAME, IDC_NAME);
        // A longer name would be cut from its section when the file is read back.
        int nMaxName = sentrel::MaxInstanceNameLength("Syslog");
        if (static_cast<int>(m_strName.size()) > nMaxName)
            return RefuseText("The 'Display name' is too long: it may hold at most " +
                                  std::to_string(nMaxName) + " characters.",
                              IDC_NAME);
        std::string strPath = m_strDirectory + "\\" + m_strName;
        if ((!m_bEdit || m_strName != m_strOriginalName) &&
            GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES)
            return Refuse(IDS_NAME_EXISTS, IDC_NAME);
        if (m_strAddress.empty())
            return Refuse(IDS_ADDRESS_EMPTY, IDC_ADDRESS);
        if (inet_addr(m_strAddress.c_str()) == INADDR_NONE)
            return Refuse(IDS_BAD_ADDRESS, IDC_ADDRESS);
        if (m_strMessage.empty())
            return Refuse(IDS_MESSAGE_EMPTY, IDC_MESSAGE);
        winplat::Bstr bstrPath = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strPath));
        // An edited instance keeps the keys the dialog does not show (format, transport,
        // ...), also under a new name: they come from the file it was opened from.
        winplat::Bstr bstrOriginal;
        if (m_bEdit)
            bstrOriginal = winplat::Bstr::Adopt(
                sentrel::BstrFromAnsi(m_strDirectory + "\\" + m_strOriginalName));
        // A file that was not written is not confirmed: the operator can correct or cancel.
        if (FAILED(m_pNotifier->SaveSyslogInstance(bstrPath.Get(), m_nPort, m_strAddress,
                                                   m_strMessage, bstrOriginal.Get())))
            return Refuse(IDS_SAVE_FAILED, 0);
    }
    afx::CDialog::OnOK();
}

void CSyslogSettingsDialog::OnHelp() {
    LaunchHelp(m_hWnd, kSyslogHelpFile, kSyslogHelpContext);
}
