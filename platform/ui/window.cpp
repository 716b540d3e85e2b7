// Windows: handles, classes, creation and destruction, text, geometry, focus.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <winplat/winbase.h>
#include <winplat/winerror.h>

#include <winplat/winnls.h>
#include "ui_internal.h"

namespace winplat::ui {

namespace {

struct WindowClass {
    WNDPROC proc = nullptr;
    Kind kind = Kind::Custom;
    HINSTANCE hInstance = nullptr;
};

struct Manager {
    std::atomic<std::thread::id> owner; // the thread that created the first window
    // Handles are never reused, so a stale handle names no window.
    uintptr_t nextHandle = 0x10010;
    std::map<HWND, std::shared_ptr<Window>> windows;
    std::map<std::string, WindowClass> classes; // by upper-case name
    HWND focus = nullptr;
};

Manager& M() {
    static Manager manager;
    return manager;
}

std::string UpperName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

void RegisterBuiltIns() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& classes = M().classes;
        classes["STATIC"] = {StaticProc, Kind::Static, nullptr};
        classes["BUTTON"] = {ButtonProc, Kind::Button, nullptr};
        classes["EDIT"] = {EditProc, Kind::Edit, nullptr};
        classes["LISTBOX"] = {ListBoxProc, Kind::ListBox, nullptr};
        classes["COMBOBOX"] = {ComboBoxProc, Kind::ComboBox, nullptr};
        classes[UpperName(WC_LISTVIEWA)] = {ListViewProc, Kind::ListView, nullptr};
        classes[UpperName(TRACKBAR_CLASSA)] = {TrackbarProc, Kind::Trackbar, nullptr};
        classes["#32770"] = {DialogProc, Kind::Dialog, nullptr};
    });
}

// Descendants first, deepest last, as destruction visits them.
void CollectTree(HWND hWnd, std::vector<HWND>& out) {
    out.push_back(hWnd);
    if (Window* w = Find(hWnd))
        for (HWND child : w->children)
            CollectTree(child, out);
}

} // namespace

Window* Find(HWND hWnd) {
    auto it = M().windows.find(hWnd);
    return it == M().windows.end() ? nullptr : it->second.get();
}

bool OnWindowThread() {
    std::thread::id owner = M().owner.load();
    return owner == std::thread::id() || owner == std::this_thread::get_id();
}

std::vector<HWND> AllTopLevelDialogs() {
    std::vector<HWND> dialogs; // handles grow with creation, so the map keeps that order
    for (auto& [handle, w] : M().windows)
        if (w->kind == Kind::Dialog && !w->parent && !w->destroying)
            dialogs.push_back(handle);
    return dialogs;
}

std::shared_ptr<Window> Hold(HWND hWnd) {
    auto it = M().windows.find(hWnd);
    return it == M().windows.end() ? nullptr : it->second;
}

HWND TopLevelOf(HWND hWnd) {
    Window* w = Find(hWnd);
    while (w && w->parent)
        w = Find(w->parent);
    return w ? w->handle : nullptr;
}

RECT NonClient(const Window& w) {
    int edge = 0;
    if (w.style & WS_CAPTION || w.style & WS_DLGFRAME || w.exStyle & WS_EX_DLGMODALFRAME)
        edge = 3;
    else if (w.exStyle & WS_EX_CLIENTEDGE)
        edge = 2;
    else if (w.style & WS_BORDER)
        edge = 1;
    int caption = (w.style & WS_CAPTION) == WS_CAPTION ? 19 : 0;
    return RECT{edge, edge + caption, edge, edge};
}

POINT ClientOrigin(const Window& w) {
    RECT nc = NonClient(w);
    POINT origin{w.rect.left + nc.left, w.rect.top + nc.top};
    if (w.parent)
        if (Window* p = Find(w.parent)) {
            POINT po = ClientOrigin(*p);
            origin.x += po.x;
            origin.y += po.y;
        }
    return origin;
}

HWND Create(DWORD exStyle, const std::string& className, const std::string& text, DWORD style,
            RECT rect, HWND parent, int id, HINSTANCE hInstance, LPVOID lpParam) {
    RegisterBuiltIns();
    auto cls = M().classes.find(UpperName(className));
    if (cls == M().classes.end()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (parent && !Find(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (M().windows.empty())
        M().owner = std::this_thread::get_id();
    auto w = std::make_shared<Window>();
    w->handle = reinterpret_cast<HWND>(M().nextHandle);
    M().nextHandle += 4;
    w->kind = cls->second.kind;
    w->className = className;
    w->proc = cls->second.proc;
    w->hInstance = hInstance;
    w->style = style;
    w->exStyle = exStyle;
    w->text = text;
    w->rect = rect;
    w->enabled = !(style & WS_DISABLED);
    if (style & WS_CHILD) {
        w->parent = parent;
        w->id = id;
    } else if (parent) {
        w->owner = TopLevelOf(parent);
    }
    HWND hWnd = w->handle;
    M().windows[hWnd] = w;
    if (w->parent)
        Find(w->parent)->children.push_back(hWnd);

    struct CREATESTRUCTA {
        LPVOID lpCreateParams;
        HINSTANCE hInstance;
        HANDLE hMenu;
        HWND hwndParent;
        int cy, cx, y, x;
        LONG style;
        LPCSTR lpszName;
        LPCSTR lpszClass;
        DWORD dwExStyle;
    } cs{lpParam,
         hInstance,
         reinterpret_cast<HANDLE>(static_cast<intptr_t>(id)),
         parent,
         static_cast<int>(rect.bottom - rect.top),
         static_cast<int>(rect.right - rect.left),
         static_cast<int>(rect.top),
         static_cast<int>(rect.left),
         static_cast<LONG>(style),
         w->text.c_str(),
         w->className.c_str(),
         exStyle};
    if (!Send(hWnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) ||
        Send(hWnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hWnd);
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (Window* created = Find(hWnd); created && style & WS_VISIBLE)
        created->visible = true;
    return hWnd;
}

LRESULT Send(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Window> w = Hold(hWnd);
    if (!w || !w->proc)
        return 0;
    return w->proc(hWnd, msg, wParam, lParam);
}

void NotifyParent(Window& control, UINT code) {
    if (control.parent)
        Send(control.parent, WM_COMMAND, MAKEWPARAM(control.id, code),
             reinterpret_cast<LPARAM>(control.handle));
}

LRESULT NotifyParent(Window& control, NMHDR& header) {
    header.hwndFrom = control.handle;
    header.idFrom = static_cast<UINT_PTR>(control.id);
    if (!control.parent)
        return 0;
    return Send(control.parent, WM_NOTIFY, static_cast<WPARAM>(control.id),
                reinterpret_cast<LPARAM>(&header));
}

void SetFocusQuiet(HWND hWnd) {
    HWND old = M().focus;
    if (old == hWnd)
        return;
    M().focus = hWnd;
    if (old && Find(old))
        Send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    if (hWnd && Find(hWnd)) {
        HWND top = TopLevelOf(hWnd);
        if (Window* dlg = Find(top); dlg && top != hWnd)
            dlg->lastFocus = hWnd;
        Send(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    }
}

int VisibleRows(const Window& w) {
    RECT nc = NonClient(w);
    int height = (w.rect.bottom - w.rect.top) - nc.top - nc.bottom;
    if (w.kind == Kind::ListView)
        return std::max(1, (height - kListViewHeaderHeight) / kListViewRowHeight);
    return std::max(1, height / kListItemHeight);
}

int CopyText(const std::string& text, LPSTR buffer, int cchMax) {
    if (!buffer || cchMax <= 0)
        return 0;
    int n = std::min<int>(static_cast<int>(text.size()), cchMax - 1);
    // Never end on the lead byte of a double-byte character.
    if (n < static_cast<int>(text.size())) {
        int i = 0;
        while (i < n) {
            int len = IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 2 : 1;
            if (i + len > n)
                break;
            i += len;
        }
        n = i;
    }
    std::memcpy(buffer, text.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

int CompareNoCase(const std::string& a, const std::string& b) {
    // ASCII letters fold; a double-byte character compares by its bytes.
    auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = fold(static_cast<unsigned char>(a[i])),
            cb = fold(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

// The operator's view of the window list.
size_t WindowCount() {
    return M().windows.size();
}

} // namespace winplat::ui

using namespace winplat::ui;

WINPLAT_API ATOM RegisterClassA(const WNDCLASSA* lpWndClass) {
    RegisterBuiltIns();
    if (!lpWndClass || !lpWndClass->lpszClassName || !lpWndClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string name = UpperName(lpWndClass->lpszClassName);
    if (M().classes.count(name)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    M().classes[name] = {lpWndClass->lpfnWndProc, Kind::Custom, lpWndClass->hInstance};
    return static_cast<ATOM>(0xC000 + M().classes.size());
}

WINPLAT_API BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
    if (!lpClassName)
        return FALSE;
    auto it = M().classes.find(UpperName(lpClassName));
    if (it == M().classes.end() || it->second.kind != Kind::Custom) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& [handle, w] : M().windows)
        if (UpperName(w->className) == it->first) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    M().classes.erase(it);
    return TRUE;
}

WINPLAT_API HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                 DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                 HWND hWndParent, HANDLE hMenu, HINSTANCE hInstance,
                                 LPVOID lpParam) {
    if (!lpClassName || IS_INTRESOURCE(lpClassName)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if ((dwStyle & WS_CHILD) && !hWndParent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (X == CW_USEDEFAULT)
        X = Y = 0;
    if (nWidth == CW_USEDEFAULT)
        nWidth = nHeight = 0;
    RECT rect{X, Y, X + nWidth, Y + nHeight};
    int id = static_cast<int>(reinterpret_cast<intptr_t>(hMenu));
    return Create(dwExStyle, lpClassName, lpWindowName ? lpWindowName : "", dwStyle, rect,
                  hWndParent, id, hInstance, lpParam);
}

WINPLAT_API BOOL DestroyWindow(HWND hWnd) {
    Window* w = Find(hWnd);
    if (!w || w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Windows this one owns go first.
    std::vector<HWND> owned;
    for (auto& [handle, other] : M().windows)
        if (other->owner == hWnd && !other->destroying)
            owned.push_back(handle);
    for (HWND o : owned)
        if (Find(o))
            DestroyWindow(o);

    w = Find(hWnd);
    if (!w)
        return TRUE;
    if (w->kind == Kind::Dialog && w->opened && !w->closeReported)
        ReportClose(*w, w->ended ? w->endResult : IDCANCEL);
    std::vector<HWND> tree;
    CollectTree(hWnd, tree);
    for (HWND h : tree)
        if (Window* each = Find(h)) {
            each->destroying = true;
            each->visible = false;
        }
    if (M().focus && std::find(tree.begin(), tree.end(), M().focus) != tree.end()) {
        M().focus = nullptr;
        // The focus goes back to the window this one was opened over.
        if (Window* owner = Find(w->owner); owner && !owner->destroying)
            SetFocusQuiet(owner->lastFocus && Find(owner->lastFocus) ? owner->lastFocus
                                                                     : owner->handle);
    }
    for (HWND h : tree)
        Send(h, WM_DESTROY, 0, 0);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it)
        Send(*it, WM_NCDESTROY, 0, 0);
    if (Window* self = Find(hWnd); self && self->parent)
        if (Window* parent = Find(self->parent))
            std::erase(parent->children, hWnd);
    for (HWND h : tree)
        M().windows.erase(h);
    PurgeMessages(tree);
    return TRUE;
}

WINPLAT_API BOOL IsWindow(HWND hWnd) {
    Window* w = Find(hWnd);
    return w && !w->destroying;
}

WINPLAT_API BOOL IsWindowVisible(HWND hWnd) {
    for (Window* w = Find(hWnd); w; w = Find(w->parent))
        if (!w->visible)
            return FALSE;
    return Find(hWnd) != nullptr;
}

WINPLAT_API BOOL IsWindowEnabled(HWND hWnd) {
    Window* w = Find(hWnd);
    return w && w->enabled;
}

WINPLAT_API BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    Window* w = Find(hWnd);
    if (!w)
        return FALSE;
    BOOL wasDisabled = !w->enabled;
    w->enabled = bEnable != FALSE;
    if (w->enabled)
        w->style &= ~WS_DISABLED;
    else
        w->style |= WS_DISABLED;
    if (!w->enabled && M().focus == hWnd)
        SetFocusQuiet(nullptr);
    Send(hWnd, WM_ENABLE, static_cast<WPARAM>(w->enabled), 0);
    return wasDisabled;
}

WINPLAT_API BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    Window* w = Find(hWnd);
    if (!w)
        return FALSE;
    BOOL was = w->visible;
    w->visible = nCmdShow != SW_HIDE;
    if (w->visible)
        w->style |= WS_VISIBLE;
    else
        w->style &= ~WS_VISIBLE;
    if (was != static_cast<BOOL>(w->visible))
        Send(hWnd, WM_SHOWWINDOW, static_cast<WPARAM>(w->visible), 0);
    return was;
}

WINPLAT_API HWND GetParent(HWND hWnd) {
    Window* w = Find(hWnd);
    if (!w)
        return nullptr;
    return w->parent ? w->parent : w->owner;
}

WINPLAT_API HWND GetWindow(HWND hWnd, UINT uCmd) {
    Window* w = Find(hWnd);
    if (!w)
        return nullptr;
    switch (uCmd) {
    case GW_OWNER:
        return w->owner;
    case GW_CHILD:
        return w->children.empty() ? nullptr : w->children.front();
    case GW_HWNDNEXT:
        if (Window* p = Find(w->parent)) {
            auto it = std::find(p->children.begin(), p->children.end(), hWnd);
            if (it != p->children.end() && ++it != p->children.end())
                return *it;
        }
        return nullptr;
    default:
        return nullptr;
    }
}

WINPLAT_API BOOL IsChild(HWND hWndParent, HWND hWnd) {
    for (Window* w = Find(hWnd); w && w->parent; w = Find(w->parent))
        if (w->parent == hWndParent)
            return TRUE;
    return FALSE;
}

WINPLAT_API LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_SETTEXT: {
        std::string text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
        bool changed = text != w->text;
        w->text = std::move(text);
        if (changed)
            ReportTitle(*w);
        return TRUE;
    }
    case WM_GETTEXT:
        return CopyText(w->text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w->text.size());
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

WINPLAT_API LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    Window* w = Find(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->hInstance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_ID:
        return w->id;
    case GWL_STYLE:
        return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
    case GWLP_USERDATA:
        return w->userData;
    case DWLP_MSGRESULT:
        return w->kind == Kind::Dialog ? w->msgResult : 0;
    case DWLP_DLGPROC:
        return w->kind == Kind::Dialog ? reinterpret_cast<LONG_PTR>(w->dlgProc) : 0;
    case DWLP_USER:
        return w->kind == Kind::Dialog ? w->dlgUser : 0;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

WINPLAT_API LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    Window* w = Find(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = GetWindowLongPtrA(hWnd, nIndex);
    switch (nIndex) {
    case GWLP_WNDPROC:
        w->proc = reinterpret_cast<WNDPROC>(dwNewLong);
        break;
    case GWLP_ID:
        w->id = static_cast<int>(dwNewLong);
        break;
    case GWL_STYLE:
        w->style = static_cast<DWORD>(dwNewLong);
        break;
    case GWL_EXSTYLE:
        w->exStyle = static_cast<DWORD>(dwNewLong);
        break;
    case GWLP_USERDATA:
        w->userData = dwNewLong;
        break;
    case DWLP_MSGRESULT:
        w->msgResult = dwNewLong;
        break;
    case DWLP_DLGPROC:
        w->dlgProc = reinterpret_cast<DLGPROC>(dwNewLong);
        break;
    case DWLP_USER:
        w->dlgUser = dwNewLong;
        break;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return old;
}

WINPLAT_API BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    if (!Find(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return Send(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : "")) != 0;
}

WINPLAT_API int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (lpString && nMaxCount > 0)
        lpString[0] = '\0';
    if (!Find(hWnd))
        return 0;
    return static_cast<int>(
        Send(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

WINPLAT_API int GetWindowTextLengthA(HWND hWnd) {
    return Find(hWnd) ? static_cast<int>(Send(hWnd, WM_GETTEXTLENGTH, 0, 0)) : 0;
}

WINPLAT_API int GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    Window* w = Find(hWnd);
    return w ? CopyText(w->className, lpClassName, nMaxCount) : 0;
}

WINPLAT_API BOOL SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags) {
    Window* w = Find(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    RECT& r = w->rect;
    if (!(uFlags & SWP_NOMOVE)) {
        LONG width = r.right - r.left, height = r.bottom - r.top;
        r = RECT{X, Y, X + width, Y + height};
    }
    if (!(uFlags & SWP_NOSIZE)) {
        r.right = r.left + cx;
        r.bottom = r.top + cy;
    }
    if (uFlags & SWP_SHOWWINDOW)
        ShowWindow(hWnd, SW_SHOW);
    if (uFlags & SWP_HIDEWINDOW)
        ShowWindow(hWnd, SW_HIDE);
    return TRUE;
}

WINPLAT_API BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL) {
    return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

WINPLAT_API BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    Window* w = Find(hWnd);
    if (!w || !lpRect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    RECT nc = NonClient(*w);
    *lpRect = RECT{0, 0, std::max<LONG>(0, w->rect.right - w->rect.left - nc.left - nc.right),
                   std::max<LONG>(0, w->rect.bottom - w->rect.top - nc.top - nc.bottom)};
    return TRUE;
}

WINPLAT_API BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
    Window* w = Find(hWnd);
    if (!w || !lpRect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    POINT origin{w->rect.left, w->rect.top};
    if (Window* p = Find(w->parent)) {
        POINT po = ClientOrigin(*p);
        origin.x += po.x;
        origin.y += po.y;
    }
    *lpRect = RECT{origin.x, origin.y, origin.x + (w->rect.right - w->rect.left),
                   origin.y + (w->rect.bottom - w->rect.top)};
    return TRUE;
}

WINPLAT_API int MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints) {
    POINT from{0, 0}, to{0, 0};
    if (hWndFrom) {
        Window* w = Find(hWndFrom);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        from = ClientOrigin(*w);
    }
    if (hWndTo) {
        Window* w = Find(hWndTo);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        to = ClientOrigin(*w);
    }
    LONG dx = from.x - to.x, dy = from.y - to.y;
    for (UINT i = 0; lpPoints && i < cPoints; ++i) {
        lpPoints[i].x += dx;
        lpPoints[i].y += dy;
    }
    SetLastError(ERROR_SUCCESS);
    return MAKELONG(static_cast<WORD>(static_cast<SHORT>(dx)),
                    static_cast<WORD>(static_cast<SHORT>(dy)));
}

WINPLAT_API BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    return lpPoint && Find(hWnd) && MapWindowPoints(hWnd, nullptr, lpPoint, 1) >= 0;
}

WINPLAT_API BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    return lpPoint && Find(hWnd) && MapWindowPoints(nullptr, hWnd, lpPoint, 1) >= 0;
}

WINPLAT_API BOOL InvalidateRect(HWND hWnd, LPCRECT, BOOL) {
    // The headless screen has nothing to redraw; the operator reads state, not pixels.
    return hWnd == nullptr || Find(hWnd) != nullptr;
}

WINPLAT_API BOOL UpdateWindow(HWND hWnd) {
    return Find(hWnd) != nullptr;
}

WINPLAT_API HWND SetFocus(HWND hWnd) {
    HWND old = M().focus;
    if (hWnd && !Find(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    SetFocusQuiet(hWnd);
    Window* w = Find(hWnd);
    Window* top = Find(TopLevelOf(hWnd));
    // The program moved the focus: the operator is told, unless a dialog is still being
    // built (its opening reports the focus) or a message box's report is pending.
    if (w && top && top->opened && !top->initializing && !OperatorActing())
        if (Observer* observer = CurrentObserver(); observer) {
            if (!FocusReportPending())
                observer->OnFocus(hWnd, w->id);
        }
    return old;
}

WINPLAT_API HWND GetFocus(void) {
    return Find(M().focus) ? M().focus : nullptr;
}
