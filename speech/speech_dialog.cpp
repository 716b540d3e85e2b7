#include "speech_dialog.h"

#include <winplat/comptr.h>
#include <winplat/winbase.h>

#include "help_launcher.h"
#include "instance_file.h"
#include "text.h"
#include "tts_notification.h"

namespace {

constexpr int IDC_RATE_SLIDER = 201;
constexpr int IDC_NAME = 202;
constexpr int IDC_VOLUME_SLIDER = 203;
constexpr int IDC_RATE = 204;
constexpr int IDC_VOLUME = 205;
constexpr int IDC_MESSAGE = 207;
constexpr int IDC_HELP_BUTTON = 9;

constexpr UINT IDS_NEW_TITLE = 101;
constexpr UINT IDS_EDIT_TITLE = 102;
constexpr UINT IDS_ILLEGAL_NAME = 103;
constexpr UINT IDS_ILLEGAL_CHARS = 104;

constexpr char kLoadFailed[] = " - Failed to load notification from disk.";

std::string LoadTitle(UINT id) {
    char szTitle[512] = {};
    LoadResourceText(id, szTitle, sizeof szTitle);
    return szTitle;
}

} // namespace

CSpeechSettingsDialog::CSpeechSettingsDialog(TTSNotification* pNotifier,
                                             const std::string& strDirectory,
                                             const std::string* pstrName)
    : afx::CDialog(IDD_SPEECH_SETTINGS), m_strDirectory(strDirectory), m_pNotifier(pNotifier) {
    if (pstrName) {
        m_strName = *pstrName;
        m_bEdit = true;
    }
}

void CSpeechSettingsDialog::DoDataExchange(afx::CDataExchange* pDX) {
    afx::DDX_Control(pDX, IDC_VOLUME_SLIDER, m_volumeSlider);
    afx::DDX_Control(pDX, IDC_RATE_SLIDER, m_rateSlider);
    afx::DDX_Text(pDX, IDC_NAME, m_strName);
    afx::DDX_Text(pDX, IDC_RATE, m_nRate);
    afx::DDX_Text(pDX, IDC_VOLUME, m_nVolume);
    afx::DDX_Text(pDX, IDC_MESSAGE, m_strMessage);
}

BOOL CSpeechSettingsDialog::OnInitDialog() {
    afx::CDialog::OnInitDialog();
    if (!m_pNotifier)
        return TRUE;
    m_nVolume = CSpeechVoice::GetMaxVolume();
    m_nRate = 0;
    m_volumeSlider.SetRange(CSpeechVoice::GetMinVolume(), CSpeechVoice::GetMaxVolume(), true);
    m_rateSlider.SetRange(CSpeechVoice::GetMinRate(), CSpeechVoice::GetMaxRate(), true);

    std::string strTitle;
    if (m_bEdit) {
        winplat::Bstr bstrPath =
            winplat::Bstr::Adopt(sentrel::BstrFromAnsi(m_strDirectory + "\\" + m_strName));
        if (FAILED(m_pNotifier->LoadSpeechInstance(bstrPath.Get(), &m_nRate, &m_nVolume,
                                                   m_strMessage))) {
            m_pNotifier->LogLine(bstrPath.Get(), kLoadFailed);
            MessageBox("Error loading the instance file");
            return TRUE;
        }
        m_strOriginalName = m_strName;
        strTitle = LoadTitle(IDS_EDIT_TITLE);
    } else {
        winplat::Bstr bstrPath =
            winplat::Bstr::Adopt(sentrel::BstrFromAnsi(m_strDirectory + "\\Default"));
        if (FAILED(m_pNotifier->LoadSpeechInstance(bstrPath.Get(), &m_nRate, &m_nVolume,
                                                   m_strMessage))) {
            winplat::Bstr bstrDefault(u"Default TextSpeech");
            m_pNotifier->LogLine(bstrDefault.Get(), kLoadFailed);
        }
        m_strOriginalName = m_strName;
        strTitle = LoadTitle(IDS_NEW_TITLE);
    }
    m_volumeSlider.SetPos(m_nVolume);
    m_rateSlider.SetPos(m_nRate);
    UpdateData(false);
    SetWindowText(strTitle);
    return TRUE;
}

BOOL CSpeechSettingsDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_HELP_BUTTON) {
        OnHelp();
        return TRUE;
    }
    return afx::CDialog::OnCommand(wParam, lParam);
}

void CSpeechSettingsDialog::OnHScroll(UINT, UINT, HWND hScrollBar) {
    // A field that holds no whole number keeps its previous value (the prompt said so).
    UpdateData(true);
    int id = GetDlgCtrlID(hScrollBar);
    if (id == IDC_VOLUME_SLIDER)
        m_nVolume = m_volumeSlider.GetPos();
    else if (id == IDC_RATE_SLIDER)
        m_nRate = m_rateSlider.GetPos();
    UpdateData(false);
}

void CSpeechSettingsDialog::RefuseName(const char* pszText, const char* pszCaption) {
    MessageBox(pszText, pszCaption, MB_OK);
    ::SetFocus(GetDlgItem(IDC_NAME));
}

void CSpeechSettingsDialog::OnOK() {
    if (!m_pNotifier)
        return;
    // A rate or volume that is no whole number stops here, after the integer prompt,
    // rather than saving the value it had before.
    if (!UpdateData(true))
        return;
    if (m_strName.empty())
        return RefuseName("Invalid value - The 'Display Name' field must have a value", nullptr);
    char szIllegal[63] = {};
    LoadResourceText(IDS_ILLEGAL_CHARS, szIllegal, sizeof szIllegal);
    if (m_strName.find_first_of(szIllegal) != std::string::npos) {
        char szText[511] = {};
        LoadResourceText(IDS_ILLEGAL_NAME, szText, sizeof szText);
        afx::AfxMessageBox(szText, MB_OK);
        ::SetFocus(GetDlgItem(IDC_NAME));
        return;
    }
    // A longer name would be cut from its section when the file is read back.
    int nMaxName = sentrel::MaxInstanceNameLength("TextSpeech");
    if (static_cast<int>(m_strName.size()) > nMaxName) {
        std::string strText = "The 'Display Name' is too long: it may hold at most " +
                              std::to_string(nMaxName) + " characters.";
        return RefuseName(strText.c_str(), nullptr);
    }
    std::string strPath = m_strDirectory + "\\" + m_strName;
    bool bRenamed = m_bEdit && m_strName != m_strOriginalName;
    if ((!m_bEdit || bRenamed) && GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES)
        return RefuseName("Instance name already exists.  Please choose another name",
                          "Invalid Instance Name");
    winplat::Bstr bstrPath = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strPath));
    // A file that was not written is not confirmed: the operator can correct or cancel.
    if (FAILED(m_pNotifier->SaveSpeechInstance(bstrPath.Get(), m_nRate, m_nVolume, m_strMessage))) {
        MessageBox("Error saving instance file");
        return;
    }
    afx::CDialog::OnOK();
}

void CSpeechSettingsDialog::OnHelp() {
    // The application's main window owns the help; a plug-in's is the active window.
    LaunchHelp(GetActiveWindow(), kSpeechHelpFile, kSpeechHelpContext);
}
