// Windows: window classes and procedures, window handles, and sending a window a
// message. Handles are numbers that are never followed, so a stale or made-up handle
// fails IsWindow. Windows are used from the thread that made them; SendMessageA calls
// the window procedure directly.
#pragma once

#include "windef.h"
#include "winerror.h"

typedef LRESULT (*WNDPROC)(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
typedef WORD ATOM;
struct HMENU__;
typedef HMENU__* HMENU;

#define WM_DESTROY 0x0002
#define WM_NCDESTROY 0x0082
#define WM_USER 0x0400

#define GWLP_USERDATA (-21)

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HANDLE hCursor;
    HANDLE hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

// Class names compare without regard to ASCII case.
WINPLAT_API ATOM RegisterClassA(const WNDCLASSA* lpWndClass);
WINPLAT_API BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
WINPLAT_API HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                 DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                 HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);
// Sends WM_DESTROY, then WM_NCDESTROY, then forgets the handle.
WINPLAT_API BOOL DestroyWindow(HWND hWnd);
WINPLAT_API BOOL IsWindow(HWND hWnd);
// 0 for a handle that names no window.
WINPLAT_API LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
WINPLAT_API LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
WINPLAT_API LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
WINPLAT_API LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
