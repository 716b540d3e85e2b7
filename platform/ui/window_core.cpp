// Window classes, window handles and SendMessageA: what a window is before it shows
// anything.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>

#include <winplat/winbase.h>
#include <winplat/winuser.h>

#include "system/handle_table.h"

namespace {

struct Window {
    WNDPROC proc = nullptr;
    LONG_PTR userData = 0;
    HWND parent = nullptr;
    bool destroying = false;
};

struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

class Windows {
public:
    ATOM Register(const std::string& name, WNDPROC proc) {
        std::lock_guard lock(m_mutex);
        if (m_classes.count(name))
            return 0;
        m_classes[name] = proc;
        return static_cast<ATOM>(0xC000 + m_classes.size());
    }
    bool Unregister(const std::string& name) {
        std::lock_guard lock(m_mutex);
        return m_classes.erase(name) != 0;
    }
    HWND Create(const std::string& className, HWND parent) {
        WNDPROC proc = nullptr;
        {
            std::lock_guard lock(m_mutex);
            auto cls = m_classes.find(className);
            if (cls == m_classes.end())
                return nullptr;
            proc = cls->second;
        }
        return m_windows.Add(Window{proc, 0, parent, false});
    }
    std::shared_ptr<Window> Find(HWND hWnd) { return m_windows.Find(hWnd); }
    void Remove(HWND hWnd) { m_windows.Remove(hWnd); }

private:
    std::mutex m_mutex;
    std::map<std::string, WNDPROC, NoCase> m_classes;
    winplat::HandleTable<HWND, Window> m_windows{0x10004, 4};
};

Windows& TheWindows() {
    static Windows windows;
    return windows;
}

} // namespace

WINPLAT_API ATOM RegisterClassA(const WNDCLASSA* lpWndClass) {
    if (!lpWndClass || !lpWndClass->lpszClassName || !lpWndClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ATOM atom = TheWindows().Register(lpWndClass->lpszClassName, lpWndClass->lpfnWndProc);
    if (!atom)
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return atom;
}

WINPLAT_API BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    if (!lpClassName || !TheWindows().Unregister(lpClassName)) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

WINPLAT_API HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                 DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                 HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                 LPVOID lpParam) {
    if (hWndParent && !IsWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    HWND hWnd = lpClassName ? TheWindows().Create(lpClassName, hWndParent) : nullptr;
    if (!hWnd)
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return hWnd;
}

WINPLAT_API BOOL DestroyWindow(HWND hWnd) {
    std::shared_ptr<Window> window = TheWindows().Find(hWnd);
    if (!window || window->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    window->destroying = true;
    window->proc(hWnd, WM_DESTROY, 0, 0);
    window->proc(hWnd, WM_NCDESTROY, 0, 0);
    TheWindows().Remove(hWnd);
    return TRUE;
}

WINPLAT_API BOOL IsWindow(HWND hWnd) {
    return hWnd && TheWindows().Find(hWnd) ? TRUE : FALSE;
}

WINPLAT_API LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Window> window = TheWindows().Find(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return window->proc(hWnd, Msg, wParam, lParam);
}

WINPLAT_API LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return 0;
}

WINPLAT_API LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    std::shared_ptr<Window> window = TheWindows().Find(hWnd);
    if (!window || nIndex != GWLP_USERDATA) {
        SetLastError(window ? ERROR_INVALID_INDEX : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR previous = window->userData;
    window->userData = dwNewLong;
    return previous;
}

WINPLAT_API LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    std::shared_ptr<Window> window = TheWindows().Find(hWnd);
    if (!window || nIndex != GWLP_USERDATA) {
        SetLastError(window ? ERROR_INVALID_INDEX : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return window->userData;
}
