// Dialogs: built from a module's templates, run modally in a loop of their own or
// modelessly in the caller's, with the keyboard interface of dialogs (tab order, the
// default button, Escape).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <winplat/resource.h>
#include <winplat/winbase.h>
#include <winplat/winerror.h>
#include <winplat/winnls.h>

#include "ui_internal.h"

namespace winplat::ui {

namespace {

struct ControlTemplate {
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD pointSize = 8;
    std::string font;
    std::string caption;
    std::vector<ControlTemplate> controls;
};

// Reads the resource compiler's form; false when the bytes are not a template.
class Reader {
public:
    Reader(const BYTE* data, size_t size) : m_p(data), m_end(data + size) {}
    bool Bytes(void* out, size_t n) {
        if (static_cast<size_t>(m_end - m_p) < n)
            return false;
        std::memcpy(out, m_p, n);
        m_p += n;
        return true;
    }
    template <class T> bool Number(T& out) {
        BYTE raw[sizeof(T)];
        if (!Bytes(raw, sizeof raw))
            return false;
        std::make_unsigned_t<T> v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= static_cast<std::make_unsigned_t<T>>(raw[i]) << (8 * i);
        out = static_cast<T>(v);
        return true;
    }
    // Texts are UTF-8 in the template and ANSI in the program.
    bool Text(std::string& out) {
        WORD n = 0;
        if (!Number(n) || static_cast<size_t>(m_end - m_p) < n)
            return false;
        std::string utf8(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        int cch =
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        std::u16string wide(static_cast<size_t>(cch), u'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            cch);
        int cb = WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, nullptr, 0, nullptr, nullptr);
        out.assign(static_cast<size_t>(cb), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, out.data(), cb, nullptr, nullptr);
        return true;
    }

private:
    const BYTE* m_p;
    const BYTE* m_end;
};

bool LoadTemplate(HINSTANCE hInstance, LPCSTR lpTemplateName, DialogTemplate& t) {
    HRSRC hRes = FindResourceA(hInstance, lpTemplateName, RT_DIALOG);
    if (!hRes) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(hInstance, hRes)));
    Reader r(data, SizeofResource(hInstance, hRes));
    char magic[4];
    WORD count = 0;
    if (!r.Bytes(magic, 4) || std::memcmp(magic, WINPLAT_DIALOG_MAGIC, 4) != 0 ||
        !r.Number(t.style) || !r.Number(t.exStyle) || !r.Number(t.x) || !r.Number(t.y) ||
        !r.Number(t.cx) || !r.Number(t.cy) || !r.Number(t.pointSize) || !r.Number(count) ||
        !r.Text(t.font) || !r.Text(t.caption)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    for (WORD i = 0; i < count; ++i) {
        ControlTemplate c;
        if (!r.Number(c.id) || !r.Number(c.style) || !r.Number(c.exStyle) || !r.Number(c.x) ||
            !r.Number(c.y) || !r.Number(c.cx) || !r.Number(c.cy) || !r.Text(c.className) ||
            !r.Text(c.text)) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return false;
        }
        t.controls.push_back(std::move(c));
    }
    return true;
}

// Dialog base units of a template font: the average character width and the height, in
// pixels, of the font at the screen's 96 dots per inch.
void BaseUnits(const std::string& font, WORD pointSize, int& baseX, int& baseY) {
    if (pointSize == 8 && (font == "MS Sans Serif" || font == "MS Shell Dlg" || font.empty())) {
        baseX = 6;
        baseY = 13;
        return;
    }
    baseX = std::max(1, (pointSize * 3 + 2) / 4);
    baseY = std::max(1, (pointSize * 13 + 4) / 8);
}

RECT ToPixels(int baseX, int baseY, short x, short y, short cx, short cy) {
    LONG left = x * baseX / 4, top = y * baseY / 8;
    return RECT{left, top, left + cx * baseX / 4, top + cy * baseY / 8};
}

bool TakesTab(const Window& w) {
    return (w.style & WS_TABSTOP) && w.visible && w.enabled && !w.destroying;
}

HWND CreateFromTemplate(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                        DLGPROC lpDialogFunc, LPARAM dwInitParam, bool modal) {
    DialogTemplate t;
    if (!LoadTemplate(hInstance, lpTemplateName, t))
        return nullptr;
    int baseX = 6, baseY = 13;
    BaseUnits(t.font, t.pointSize, baseX, baseY);
    RECT client = ToPixels(baseX, baseY, t.x, t.y, t.cx, t.cy);

    Window probe;
    probe.style = t.style;
    probe.exStyle = t.exStyle;
    RECT nc = NonClient(probe);
    RECT rect{client.left, client.top, client.right + nc.left + nc.right,
              client.bottom + nc.top + nc.bottom};
    // A pop-up is placed relative to its owner's client area, as on the desktop.
    if (!(t.style & WS_CHILD) && hWndParent)
        if (Window* owner = Find(TopLevelOf(hWndParent))) {
            POINT o = ClientOrigin(*owner);
            rect = RECT{rect.left + o.x, rect.top + o.y, rect.right + o.x, rect.bottom + o.y};
        }

    HWND hDlg = Create(t.exStyle, "#32770", t.caption, t.style & ~WS_VISIBLE, rect, hWndParent, 0,
                       hInstance, nullptr);
    if (!hDlg)
        return nullptr;
    Window* dlg = Find(hDlg);
    dlg->dlgProc = lpDialogFunc;
    dlg->templateId = IS_INTRESOURCE(lpTemplateName)
                          ? static_cast<UINT>(reinterpret_cast<uintptr_t>(lpTemplateName))
                          : 0;
    dlg->baseX = baseX;
    dlg->baseY = baseY;
    dlg->modal = modal;
    dlg->initializing = true;

    for (const ControlTemplate& c : t.controls) {
        RECT r = ToPixels(baseX, baseY, c.x, c.y, c.cx, c.cy);
        HWND hCtl = Create(c.exStyle, c.className, c.text, c.style | WS_CHILD, r, hDlg, c.id,
                           hInstance, nullptr);
        if (!hCtl) {
            DestroyWindow(hDlg);
            return nullptr;
        }
    }

    HWND first = GetNextDlgTabItem(hDlg, nullptr, FALSE);
    std::shared_ptr<Window> hold = Hold(hDlg);
    INT_PTR focusDefault = lpDialogFunc ? lpDialogFunc(hDlg, WM_INITDIALOG,
                                                       reinterpret_cast<WPARAM>(first), dwInitParam)
                                        : TRUE;
    if (!IsWindow(hDlg))
        return nullptr;
    dlg = Find(hDlg);
    if (focusDefault && !dlg->ended) {
        HWND target = GetNextDlgTabItem(hDlg, nullptr, FALSE);
        SetFocusQuiet(target ? target : hDlg);
    }
    dlg->initializing = false;
    if (!dlg->ended && (t.style & WS_VISIBLE || modal)) {
        ShowWindow(hDlg, SW_SHOW);
        if (!dlg->parent)
            ReportOpen(*dlg);
    }
    return hDlg;
}

} // namespace

std::vector<HWND> OpenWindows() {
    std::vector<HWND> open;
    for (HWND h : AllTopLevelDialogs())
        if (Window* w = Find(h); w && w->opened && !w->closeReported && w->visible)
            open.push_back(h);
    return open;
}

UINT TemplateOf(HWND hWnd) {
    Window* w = Find(hWnd);
    return w ? w->templateId : 0;
}

// The dialog class's window procedure: the dialog procedure first, then the defaults.
LRESULT DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    if (msg == WM_NCCREATE)
        return TRUE;
    if (w->dlgProc) {
        DLGPROC proc = w->dlgProc;
        if (INT_PTR handled = proc(hWnd, msg, wParam, lParam)) {
            switch (msg) {
            case WM_INITDIALOG:
            case WM_GETDLGCODE:
                return handled;
            default:
                w = Find(hWnd);
                return w ? w->msgResult : handled;
            }
        }
    }
    return DefDlgProcA(hWnd, msg, wParam, lParam);
}

} // namespace winplat::ui

using namespace winplat::ui;

WINPLAT_API LRESULT DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hDlg);
    if (!w)
        return 0;
    switch (Msg) {
    case WM_CLOSE: {
        // Closing a dialog from its frame is its Cancel button.
        HWND cancel = GetDlgItem(hDlg, IDCANCEL);
        if (!cancel || IsWindowEnabled(cancel))
            Send(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case DM_GETDEFID: {
        for (HWND h : w->children)
            if (Window* c = Find(h);
                c && c->kind == Kind::Button && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                return MAKELONG(static_cast<WORD>(c->id), DC_HASDEFID);
        return MAKELONG(IDOK, DC_HASDEFID);
    }
    case WM_NEXTDLGCTL: {
        HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                     : GetNextDlgTabItem(hDlg, GetFocus(), wParam != 0);
        if (target)
            SetFocusQuiet(target);
        return 0;
    }
    case WM_SETFOCUS:
        if (w->lastFocus && IsWindow(w->lastFocus))
            SetFocusQuiet(w->lastFocus);
        return 0;
    default:
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    }
}

WINPLAT_API INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                                    DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    HWND previousFocus = GetFocus();
    HWND owner = TopLevelOf(hWndParent);
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    HWND hDlg =
        CreateFromTemplate(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam, true);
    if (!hDlg)
        return -1;
    // The owner takes no input while the dialog is up.
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    std::shared_ptr<Window> dlg = Hold(hDlg);
    RunModalLoop(hDlg, [&] { return dlg->ended || dlg->destroying; });
    INT_PTR result = dlg->ended ? dlg->endResult : IDCANCEL;
    if (ownerWasEnabled && IsWindow(owner))
        EnableWindow(owner, TRUE);
    if (IsWindow(hDlg)) {
        if (!dlg->opened)
            ReportClose(*dlg, result); // ended while it initialised: never shown
        DestroyWindow(hDlg);
    }
    if (previousFocus && IsWindow(previousFocus))
        SetFocusQuiet(previousFocus);
    return result;
}

WINPLAT_API HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                                    DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    return CreateFromTemplate(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam,
                              false);
}

WINPLAT_API BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
    Window* w = Find(hDlg);
    if (!w || w->kind != Kind::Dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->ended = true;
    w->endResult = nResult;
    // A modal dialog closes when its loop sees this; a modeless one is hidden now and
    // lives on until it is destroyed.
    if (!w->modal) {
        if (w->opened)
            ReportClose(*w, nResult);
        ShowWindow(hDlg, SW_HIDE);
    }
    return TRUE;
}

WINPLAT_API HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    Window* w = Find(hDlg);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (HWND h : w->children)
        if (Window* c = Find(h); c && c->id == nIDDlgItem && !c->destroying)
            return h;
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

WINPLAT_API int GetDlgCtrlID(HWND hWnd) {
    Window* w = Find(hWnd);
    return w && w->parent ? w->id : 0;
}

WINPLAT_API LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                        LPARAM lParam) {
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    return hCtl ? Send(hCtl, Msg, wParam, lParam) : 0;
}

WINPLAT_API BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    return hCtl ? SetWindowTextA(hCtl, lpString) : FALSE;
}

WINPLAT_API UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    if (lpString && cchMax > 0)
        lpString[0] = '\0';
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    return hCtl ? static_cast<UINT>(GetWindowTextA(hCtl, lpString, cchMax)) : 0;
}

WINPLAT_API BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
    std::string text = bSigned ? std::to_string(static_cast<int>(uValue)) : std::to_string(uValue);
    return SetDlgItemTextA(hDlg, nIDDlgItem, text.c_str());
}

// Leading and trailing blanks are allowed, a sign only when signed; anything else, or a
// number beyond 32 bits, is not translated.
WINPLAT_API UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned) {
    if (lpTranslated)
        *lpTranslated = FALSE;
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    if (!hCtl)
        return 0;
    int cch = GetWindowTextLengthA(hCtl);
    std::string text(static_cast<size_t>(cch) + 1, '\0');
    GetWindowTextA(hCtl, text.data(), cch + 1);
    text.resize(static_cast<size_t>(cch));
    size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos)
        return 0;
    bool negative = false;
    if (bSigned && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    size_t digits = i;
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i++] - '0');
        if (value > 0xFFFFFFFFLL)
            return 0;
    }
    if (i == digits || text.find_first_not_of(' ', i) != std::string::npos)
        return 0;
    if (negative)
        value = -value;
    if (bSigned ? value < INT32_MIN || value > INT32_MAX : value > UINT32_MAX)
        return 0;
    if (lpTranslated)
        *lpTranslated = TRUE;
    return static_cast<UINT>(static_cast<int64_t>(value));
}

WINPLAT_API BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
    HWND hCtl = GetDlgItem(hDlg, nIDButton);
    if (!hCtl)
        return FALSE;
    Send(hCtl, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

WINPLAT_API UINT IsDlgButtonChecked(HWND hDlg, int nIDButton) {
    HWND hCtl = GetDlgItem(hDlg, nIDButton);
    return hCtl ? static_cast<UINT>(Send(hCtl, BM_GETCHECK, 0, 0)) : 0;
}

WINPLAT_API HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    Window* dlg = Find(hDlg);
    if (!dlg)
        return nullptr;
    std::vector<HWND> stops;
    for (HWND h : dlg->children)
        if (Window* c = Find(h); c && TakesTab(*c))
            stops.push_back(h);
    if (stops.empty())
        return nullptr;
    auto it = std::find(stops.begin(), stops.end(), hCtl);
    if (it == stops.end())
        return bPrevious ? stops.back() : stops.front();
    if (bPrevious)
        return it == stops.begin() ? stops.back() : *(it - 1);
    return ++it == stops.end() ? stops.front() : *it;
}

WINPLAT_API BOOL MapDialogRect(HWND hDlg, LPRECT lpRect) {
    Window* w = Find(hDlg);
    if (!w || w->kind != Kind::Dialog || !lpRect)
        return FALSE;
    lpRect->left = lpRect->left * w->baseX / 4;
    lpRect->right = lpRect->right * w->baseX / 4;
    lpRect->top = lpRect->top * w->baseY / 8;
    lpRect->bottom = lpRect->bottom * w->baseY / 8;
    return TRUE;
}

WINPLAT_API HWND GetActiveWindow(void) {
    std::vector<HWND> open = OpenWindows();
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (IsWindowEnabled(*it))
            return *it;
    return nullptr;
}

// The keyboard interface of a dialog: Tab and Shift+Tab move the focus, Enter presses the
// default button (unless a multi-line edit wants it), Escape presses Cancel. Every other
// message for the dialog or its controls is dispatched as usual.
WINPLAT_API BOOL IsDialogMessageA(HWND hDlg, LPMSG lpMsg) {
    if (!lpMsg || !Find(hDlg))
        return FALSE;
    if (lpMsg->hwnd != hDlg && !IsChild(hDlg, lpMsg->hwnd))
        return FALSE;
    if (lpMsg->message == WM_KEYDOWN) {
        Window* target = Find(lpMsg->hwnd);
        bool multiLine = target && target->kind == Kind::Edit && (target->style & ES_MULTILINE);
        switch (lpMsg->wParam) {
        case VK_TAB: {
            HWND next = GetNextDlgTabItem(hDlg, GetFocus(), GetKeyState(VK_SHIFT) < 0);
            if (next)
                SetFocusQuiet(next);
            return TRUE;
        }
        case VK_RETURN:
            if (multiLine && (target->style & ES_WANTRETURN))
                break;
            {
                LRESULT def = Send(hDlg, DM_GETDEFID, 0, 0);
                int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
                HWND button = GetDlgItem(hDlg, id);
                if (!button || IsWindowEnabled(button))
                    Send(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
            }
            return TRUE;
        case VK_ESCAPE: {
            HWND cancel = GetDlgItem(hDlg, IDCANCEL);
            if (!cancel || IsWindowEnabled(cancel))
                Send(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(cancel));
            return TRUE;
        }
        default:
            break;
        }
    }
    DispatchMessageA(lpMsg);
    return TRUE;
}
