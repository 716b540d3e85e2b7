// The application framework for modal dialogs: a dialog class that dispatches the
// dialog's messages to virtual handlers, data exchange between controls and members
// (texts, whole numbers with the framework's integer prompt, drop-down texts, check
// boxes, control objects), UpdateData, and the default OK, Cancel and help commands.
//
// A module selects itself (CModuleState) for the duration of a call, so that templates,
// strings and message-box captions come from it.
#pragma once

#include <string>

#include "commctrl.h"
#include "ui_operator.h"
#include "winuser.h"

namespace afx {

// The framework's help command, sent by F1 and by a Help button mapped to it.
inline constexpr UINT ID_HELP = 0xE146;
// The framework's prompts for a field that does not hold what it must.
inline constexpr char kParseIntPrompt[] = "Please enter an integer.";

// Selects a module for the life of the object (nested selections restore the outer one).
class WINPLAT_API_CPP CModuleState {
public:
    explicit CModuleState(HINSTANCE hInstance);
    ~CModuleState();
    CModuleState(const CModuleState&) = delete;
    CModuleState& operator=(const CModuleState&) = delete;

private:
    HINSTANCE m_hPrevious;
};

// The selected module, and its name: the module file's name without its extension.
WINPLAT_API_CPP HINSTANCE AfxGetResourceHandle();
WINPLAT_API_CPP std::string AfxGetAppName();
// The application's message box: the selected module's name as caption; an OK or
// OK/Cancel box without an icon gets the exclamation icon.
WINPLAT_API_CPP int AfxMessageBox(const std::string& strText, UINT nType = MB_OK);

class WINPLAT_API_CPP CWnd {
public:
    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    void SetWindowText(const std::string& strText) { ::SetWindowTextA(m_hWnd, strText.c_str()); }
    std::string GetWindowText() const;
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageA(m_hWnd, msg, wParam, lParam);
    }
    int MessageBox(const char* pszText, const char* pszCaption = nullptr, UINT nType = MB_OK) {
        return ::MessageBoxA(m_hWnd, pszText, pszCaption, nType);
    }
};

class WINPLAT_API_CPP CSliderCtrl : public CWnd {
public:
    void SetRange(int nMin, int nMax, bool bRedraw = false);
    void SetPos(int nPos);
    int GetPos() const;
    int GetRangeMin() const;
    int GetRangeMax() const;
};

class CDialog;

// One run of data exchange: towards the members (save and validate) or towards the
// controls. A field that fails stops the run: the operator is told, the field gets the
// focus, and the fields after it are not exchanged.
class WINPLAT_API_CPP CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, bool bSaveAndValidate);
    bool m_bSaveAndValidate;
    CDialog* m_pDlgWnd;

    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC);
    HWND LastControl() const { return m_hWndLastControl; }
    [[noreturn]] void Fail();

private:
    HWND m_hWndLastControl = nullptr;
    bool m_bEditLastControl = false;
};

WINPLAT_API_CPP void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);
WINPLAT_API_CPP void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
WINPLAT_API_CPP void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars);
WINPLAT_API_CPP void DDX_CBString(CDataExchange* pDX, int nIDC, std::string& value);
WINPLAT_API_CPP void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
WINPLAT_API_CPP void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control);

class WINPLAT_API_CPP CDialog : public CWnd {
public:
    // The template is looked up in the module selected at construction.
    explicit CDialog(UINT nIDTemplate, HWND hWndParent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally: IDOK, IDCANCEL, or -1 when it cannot be created.
    INT_PTR DoModal();
    // Creates the dialog modelessly; the caller's message loop drives it.
    bool Create(HWND hWndParent = nullptr);
    void DestroyWindow();
    // Exchanges every field; false when one of them failed.
    bool UpdateData(bool bSaveAndValidate = true);
    void EndDialog(int nResult);

protected:
    virtual BOOL OnInitDialog(); // UpdateData(false); TRUE: the framework sets the focus
    virtual void OnOK();         // UpdateData(true), then EndDialog(IDOK)
    virtual void OnCancel();     // EndDialog(IDCANCEL)
    virtual void OnHelp() {}     // the help command
    virtual void DoDataExchange(CDataExchange* pDX) {}
    // WM_COMMAND: true when handled. The default runs OnOK, OnCancel and OnHelp.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) { return FALSE; }
    virtual void OnHScroll(UINT nSBCode, UINT nPos, HWND hScrollBar) {}

    UINT m_nIDTemplate;
    HWND m_hWndParent;
    HINSTANCE m_hInstance;

private:
    static INT_PTR DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

} // namespace afx
