// Windows, messages and dialogs: the user-interface part of the platform.
//
// Window handles name objects of the platform's window manager; a message queue per
// process feeds GetMessageA; dialogs are built from the templates that the resource
// compiler puts into each module. The back-end is headless: what a person would see and
// do is reached through the operator interface (winplat/ui_operator.h).
#pragma once

#include "windef.h"

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
    LONG x;
    LONG y;
};
typedef POINT* LPPOINT;
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

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
typedef WORD ATOM;

struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};
typedef NMHDR* LPNMHDR;

#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKELONG(a, b)                                                                             \
    ((LONG)(((WORD)((DWORD_PTR)(a)&0xffff)) | ((DWORD)((WORD)((DWORD_PTR)(b)&0xffff))) << 16))
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))

// Window messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SHOWWINDOW 0x0018
#define WM_NEXTDLGCTL 0x0028
#define WM_SETFONT 0x0030
#define WM_NOTIFY 0x004E
#define WM_HELP 0x0053
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_GETDLGCODE 0x0087
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_USER 0x0400

// Dialog messages.
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_TRANSPARENT 0x00000020L
#define WS_EX_TOOLWINDOW 0x00000080L
#define WS_EX_CLIENTEDGE 0x00000200L
#define WS_EX_CONTROLPARENT 0x00010000L
#define WS_EX_APPWINDOW 0x00040000L

// Dialog template styles.
#define DS_3DLOOK 0x0004L
#define DS_SETFONT 0x0040L
#define DS_MODALFRAME 0x0080L
#define DS_CONTROL 0x0400L
#define DS_CENTER 0x0800L

// Control styles and notifications.
#define ES_LEFT 0x0000L
#define ES_MULTILINE 0x0004L
#define ES_PASSWORD 0x0020L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_WANTRETURN 0x1000L
#define ES_NUMBER 0x2000L
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300
#define EN_UPDATE 0x0400
#define EN_MAXTEXT 0x0501
#define EM_GETSEL 0x00B0
#define EM_SETSEL 0x00B1
#define EM_SETLIMITTEXT 0x00C5
#define EM_LIMITTEXT EM_SETLIMITTEXT
#define EM_GETLIMITTEXT 0x00D5

#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define BS_CHECKBOX 0x0002L
#define BS_AUTOCHECKBOX 0x0003L
#define BS_GROUPBOX 0x0007L
#define BS_TYPEMASK 0x000FL
#define BN_CLICKED 0
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_SETSTYLE 0x00F4
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0
#define BST_CHECKED 1

#define SS_LEFT 0x0000L
#define SS_CENTER 0x0001L
#define SS_RIGHT 0x0002L
#define SS_NOPREFIX 0x0080L

#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define LBS_NOINTEGRALHEIGHT 0x0100L
#define LBS_STANDARD (LBS_NOTIFY | LBS_SORT | WS_VSCROLL | WS_BORDER)
#define LB_ADDSTRING 0x0180
#define LB_INSERTSTRING 0x0181
#define LB_DELETESTRING 0x0182
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_SELECTSTRING 0x018C
#define LB_FINDSTRING 0x018F
#define LB_GETITEMDATA 0x0199
#define LB_SETITEMDATA 0x019A
#define LB_FINDSTRINGEXACT 0x01A2
#define LB_ERR (-1)
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2

#define CBS_SIMPLE 0x0001L
#define CBS_DROPDOWN 0x0002L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_AUTOHSCROLL 0x0040L
#define CBS_SORT 0x0100L
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_FINDSTRING 0x014C
#define CB_SELECTSTRING 0x014D
#define CB_SETCURSEL 0x014E
#define CB_GETITEMDATA 0x0150
#define CB_SETITEMDATA 0x0151
#define CB_FINDSTRINGEXACT 0x0158
#define CB_ERR (-1)
#define CBN_SELCHANGE 1
#define CBN_SELENDOK 9

// Dialog item ids with a meaning of their own.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDHELP 9
#define IDC_STATIC (-1)

// Message boxes.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L
#define MB_DEFBUTTON2 0x00000100L
#define MB_APPLMODAL 0x00000000L
#define MB_TASKMODAL 0x00002000L

// Virtual keys.
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_F1 0x70

// ShowWindow, SetWindowPos, GetWindowLongPtr.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_HWNDPARENT (-8)
#define GWLP_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_USERDATA (-21)
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16
#define GW_OWNER 4
#define GW_CHILD 5
#define GW_HWNDNEXT 2
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define HWND_TOP ((HWND)0)

#define CW_USEDEFAULT ((int)0x80000000)

// Windows and their classes.
WINPLAT_API ATOM RegisterClassA(const WNDCLASSA* lpWndClass);
WINPLAT_API BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
WINPLAT_API HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                 DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                 HWND hWndParent, HANDLE hMenu, HINSTANCE hInstance,
                                 LPVOID lpParam);
WINPLAT_API BOOL DestroyWindow(HWND hWnd);
WINPLAT_API BOOL IsWindow(HWND hWnd);
WINPLAT_API BOOL IsWindowVisible(HWND hWnd);
WINPLAT_API BOOL IsWindowEnabled(HWND hWnd);
WINPLAT_API BOOL EnableWindow(HWND hWnd, BOOL bEnable);
WINPLAT_API BOOL ShowWindow(HWND hWnd, int nCmdShow);
WINPLAT_API HWND GetParent(HWND hWnd);
WINPLAT_API HWND GetWindow(HWND hWnd, UINT uCmd);
WINPLAT_API BOOL IsChild(HWND hWndParent, HWND hWnd);
WINPLAT_API LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
WINPLAT_API LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
WINPLAT_API LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
WINPLAT_API BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
WINPLAT_API int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
WINPLAT_API int GetWindowTextLengthA(HWND hWnd);
WINPLAT_API int GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount);

// Geometry. Positions of child windows are in their parent's client coordinates; the
// headless screen starts at (0, 0) and top-level windows are placed on it.
WINPLAT_API BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                              UINT uFlags);
WINPLAT_API BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
WINPLAT_API BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
WINPLAT_API BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
WINPLAT_API int MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints);
WINPLAT_API BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint);
WINPLAT_API BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint);
WINPLAT_API BOOL MapDialogRect(HWND hDlg, LPRECT lpRect);
WINPLAT_API BOOL InvalidateRect(HWND hWnd, LPCRECT lpRect, BOOL bErase);
WINPLAT_API BOOL UpdateWindow(HWND hWnd);

// Messages.
WINPLAT_API LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
WINPLAT_API BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
WINPLAT_API void PostQuitMessage(int nExitCode);
WINPLAT_API BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
WINPLAT_API BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                              UINT wRemoveMsg);
WINPLAT_API BOOL TranslateMessage(const MSG* lpMsg);
WINPLAT_API LRESULT DispatchMessageA(const MSG* lpMsg);
WINPLAT_API DWORD GetMessagePos(void);
WINPLAT_API LONG GetMessageTime(void);

// Dialogs.
WINPLAT_API INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                                    DLGPROC lpDialogFunc, LPARAM dwInitParam);
WINPLAT_API HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                                    DLGPROC lpDialogFunc, LPARAM dwInitParam);
WINPLAT_API BOOL EndDialog(HWND hDlg, INT_PTR nResult);
WINPLAT_API BOOL IsDialogMessageA(HWND hDlg, LPMSG lpMsg);
WINPLAT_API LRESULT DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam);
WINPLAT_API HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
WINPLAT_API int GetDlgCtrlID(HWND hWnd);
WINPLAT_API LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                        LPARAM lParam);
WINPLAT_API BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
WINPLAT_API UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);
WINPLAT_API BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned);
WINPLAT_API UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned);
WINPLAT_API BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck);
WINPLAT_API UINT IsDlgButtonChecked(HWND hDlg, int nIDButton);
WINPLAT_API HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious);

// Focus, activation, keyboard.
WINPLAT_API HWND SetFocus(HWND hWnd);
WINPLAT_API HWND GetFocus(void);
WINPLAT_API HWND GetActiveWindow(void);
WINPLAT_API SHORT GetKeyState(int nVirtKey);

// Message boxes. The caption defaults to "Error" when none is passed.
WINPLAT_API int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
