// The application framework for dialogs.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <winplat/afxdlg.h>
#include <winplat/winbase.h>

namespace afx {

namespace {

thread_local HINSTANCE t_hResource = nullptr;

// Thrown by a failed field to end the exchange; caught by UpdateData.
struct ExchangeFailed {};

std::string WindowText(HWND hWnd) {
    int cch = GetWindowTextLengthA(hWnd);
    std::string text(static_cast<size_t>(cch) + 1, '\0');
    int got = GetWindowTextA(hWnd, text.data(), cch + 1);
    text.resize(static_cast<size_t>(got));
    return text;
}

// Sets a control's text only when it differs, so that an unchanged field raises no change
// notification.
void SetTextIfChanged(HWND hWnd, const std::string& text) {
    if (WindowText(hWnd) != text)
        SetWindowTextA(hWnd, text.c_str());
}

// A whole number as the framework reads it: blanks around it, an optional minus sign and
// decimal digits; values beyond the 32-bit range stop at its ends. "0" is the only text
// that reads as zero without a digit other than 0 in front.
bool ParseInt(const std::string& text, int& value) {
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t')
        ++p;
    char first = *p;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(p, &end, 10);
    if (n == 0 && first != '0')
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0')
        return false;
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    value = static_cast<int>(n);
    return true;
}

} // namespace

CModuleState::CModuleState(HINSTANCE hInstance) : m_hPrevious(t_hResource) {
    t_hResource = hInstance;
}

CModuleState::~CModuleState() {
    t_hResource = m_hPrevious;
}

HINSTANCE AfxGetResourceHandle() {
    return t_hResource;
}

std::string AfxGetAppName() {
    char path[4096] = {};
    GetModuleFileNameA(t_hResource, path, sizeof path);
    std::string name = path;
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

int AfxMessageBox(const std::string& strText, UINT nType) {
    if ((nType & MB_ICONMASK) == 0 &&
        ((nType & MB_TYPEMASK) == MB_OK || (nType & MB_TYPEMASK) == MB_OKCANCEL))
        nType |= MB_ICONEXCLAMATION;
    std::string caption = AfxGetAppName();
    return MessageBoxA(GetActiveWindow(), strText.c_str(), caption.c_str(), nType);
}

std::string CWnd::GetWindowText() const {
    return WindowText(m_hWnd);
}

void CSliderCtrl::SetRange(int nMin, int nMax, bool bRedraw) {
    SendMessage(TBM_SETRANGEMIN, FALSE, nMin);
    SendMessage(TBM_SETRANGEMAX, bRedraw, nMax);
}
void CSliderCtrl::SetPos(int nPos) {
    SendMessage(TBM_SETPOS, TRUE, nPos);
}
int CSliderCtrl::GetPos() const {
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETPOS, 0, 0));
}
int CSliderCtrl::GetRangeMin() const {
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETRANGEMIN, 0, 0));
}
int CSliderCtrl::GetRangeMax() const {
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETRANGEMAX, 0, 0));
}

CDataExchange::CDataExchange(CDialog* pDlgWnd, bool bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

HWND CDataExchange::PrepareCtrl(int nIDC) {
    m_hWndLastControl = m_pDlgWnd->GetDlgItem(nIDC);
    m_bEditLastControl = false;
    return m_hWndLastControl;
}

HWND CDataExchange::PrepareEditCtrl(int nIDC) {
    HWND hWnd = PrepareCtrl(nIDC);
    m_bEditLastControl = true;
    return hWnd;
}

void CDataExchange::Fail() {
    // Back to the field at fault, its text selected for typing over.
    if (m_bSaveAndValidate && m_hWndLastControl) {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl)
            ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw ExchangeFailed{};
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
    HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = WindowText(hWnd);
    else
        SetTextIfChanged(hWnd, value);
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        int read = 0;
        if (!ParseInt(WindowText(hWnd), read)) {
            AfxMessageBox(kParseIntPrompt);
            pDX->Fail();
        }
        value = read;
    } else {
        SetTextIfChanged(hWnd, std::to_string(value));
    }
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars) {
    if (!pDX->m_bSaveAndValidate) {
        // The edit takes no more than that from typing either.
        if (HWND hWnd = pDX->LastControl())
            ::SendMessageA(hWnd, EM_SETLIMITTEXT, static_cast<WPARAM>(nChars), 0);
    } else if (static_cast<int>(value.size()) > nChars) {
        AfxMessageBox("Enter no more than " + std::to_string(nChars) + " characters.");
        pDX->Fail();
    }
}

void DDX_CBString(CDataExchange* pDX, int nIDC, std::string& value) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        value = WindowText(hWnd);
    } else {
        // The first entry that begins with the text; when none does, a drop-down list
        // keeps the entry it shows (its text cannot be set otherwise).
        ::SendMessageA(hWnd, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                       reinterpret_cast<LPARAM>(value.c_str()));
    }
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageA(hWnd, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(hWnd, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control) {
    if (!control.m_hWnd)
        control.m_hWnd = pDX->PrepareCtrl(nIDC);
}

CDialog::CDialog(UINT nIDTemplate, HWND hWndParent)
    : m_nIDTemplate(nIDTemplate), m_hWndParent(hWndParent), m_hInstance(t_hResource) {}

CDialog::~CDialog() {
    if (m_hWnd && IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
    CModuleState state(m_hInstance);
    INT_PTR result = DialogBoxParamA(m_hInstance, MAKEINTRESOURCEA(m_nIDTemplate), m_hWndParent,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

bool CDialog::Create(HWND hWndParent) {
    CModuleState state(m_hInstance);
    m_hWndParent = hWndParent;
    return CreateDialogParamA(m_hInstance, MAKEINTRESOURCEA(m_nIDTemplate), hWndParent, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::DestroyWindow() {
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

bool CDialog::UpdateData(bool bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const ExchangeFailed&) {
        return false;
    }
    return true;
}

void CDialog::EndDialog(int nResult) {
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
    if (HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    case ID_HELP:
        OnHelp();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CDialog::DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        self->m_hWnd = hWnd;
        CModuleState state(self->m_hInstance);
        return self->OnInitDialog();
    }
    if (!self)
        return FALSE;
    CModuleState state(self->m_hInstance);
    switch (msg) {
    case WM_COMMAND:
        return self->OnCommand(wParam, lParam);
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!self->OnNotify(wParam, lParam, &result))
            return FALSE;
        SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_HSCROLL:
        self->OnHScroll(LOWORD(wParam), static_cast<UINT>(static_cast<short>(HIWORD(wParam))),
                        reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_HELP:
        PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, BN_CLICKED), 0);
        return TRUE;
    case WM_NCDESTROY:
        SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace afx
