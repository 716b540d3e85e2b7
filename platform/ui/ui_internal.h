// The window manager's own state: windows, their classes, the message queue, focus.
// Everything here runs on the thread that owns the windows; only the queue is shared
// with other threads (PostMessageA may be called from any thread).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <winplat/commctrl.h>
#include <winplat/ui_operator.h>
#include <winplat/winuser.h>

namespace winplat::ui {

// Messages the toolkit posts to its own controls for operator input that has no single
// window message of its own: a slider dragged to a position, an entry of a drop-down
// list picked.
inline constexpr UINT WPM_SLIDE = 0x7F00;
inline constexpr UINT WPM_PICK = 0x7F01;

enum class Kind { Custom, Dialog, Static, Button, Edit, ListBox, ComboBox, ListView, Trackbar };

struct ListEntry {
    std::string text;
    LPARAM data = 0;
};

struct ListViewColumn {
    std::string text;
    int cx = 0;
    int fmt = LVCFMT_LEFT;
};

struct ListViewRow {
    std::vector<std::string> cells; // item text, then the sub-items
    LPARAM data = 0;
    UINT state = 0;
};

struct Window {
    HWND handle = nullptr;
    Kind kind = Kind::Custom;
    std::string className;
    WNDPROC proc = nullptr;
    HINSTANCE hInstance = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    std::string text;
    HWND parent = nullptr;      // child windows
    HWND owner = nullptr;       // top-level windows
    std::vector<HWND> children; // in creation order, which is the tab order
    RECT rect{};                // in the parent's client coordinates (screen for top-level)
    bool visible = false;
    bool enabled = true;
    bool destroying = false;
    LONG_PTR userData = 0;

    // Dialogs.
    DLGPROC dlgProc = nullptr;
    LONG_PTR msgResult = 0;
    LONG_PTR dlgUser = 0;
    UINT templateId = 0;
    int baseX = 6; // dialog base units in pixels
    int baseY = 13;
    bool initializing = false;
    bool modal = false;
    bool ended = false;
    INT_PTR endResult = 0;
    bool opened = false; // the operator has seen it appear
    bool closeReported = false;
    HWND lastFocus = nullptr; // the control to give the focus back to

    // Controls.
    bool checked = false;           // check box
    UINT limit = 0x7FFFFFFE;        // edit: characters the operator may type
    DWORD selStart = 0, selEnd = 0; // edit selection
    std::vector<ListEntry> entries; // list box, drop-down list
    int curSel = -1;                // list box, drop-down list
    int topIndex = 0;               // list box, list view
    std::vector<ListViewColumn> columns;
    std::vector<ListViewRow> rows;
    DWORD lvExStyle = 0;
    int tbMin = 0, tbMax = 100, tbPos = 0; // slider
};

// The window of a handle, or null when the handle names no window (any more).
Window* Find(HWND hWnd);
// Whether the caller runs on the thread that created the windows (any thread before the
// first window).
bool OnWindowThread();
// Top-level dialogs, oldest first.
std::vector<HWND> AllTopLevelDialogs();
// Keeps a window's object alive while its procedure runs, even if it is destroyed meanwhile.
std::shared_ptr<Window> Hold(HWND hWnd);

// Creates a window of a built-in or registered class; null with the last error set.
HWND Create(DWORD exStyle, const std::string& className, const std::string& text, DWORD style,
            RECT rect, HWND parent, int id, HINSTANCE hInstance, LPVOID lpParam);
// Calls the window's procedure.
LRESULT Send(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Tells the parent of a control about it (WM_COMMAND with the code).
void NotifyParent(Window& control, UINT code);
// Sends WM_NOTIFY with the header (and what follows it) to the control's parent.
LRESULT NotifyParent(Window& control, NMHDR& header);

// Focus: the public SetFocus reports moves made by the program; the toolkit's own moves
// (a click, the tab key, a dialog opening) are made quietly.
void SetFocusQuiet(HWND hWnd);
// The dialog (top-level window) that contains hWnd, or hWnd itself.
HWND TopLevelOf(HWND hWnd);
// The client rectangle's origin in screen coordinates.
POINT ClientOrigin(const Window& w);
// Border and caption around the client area.
RECT NonClient(const Window& w);

// The message loop of a modal window (dialog or message box): runs until done() is true.
// Returns false when a quit message ended it (the quit message is posted again).
template <class Done> bool RunModalLoop(HWND hOwner, Done done);
bool PumpOne(HWND hDialog); // dispatches one message; false when the queue is empty
void Idle();                // the queue is empty: let the operator act, or wait

// The observer, and what the window manager reports to it.
Observer* CurrentObserver();
void ReportOpen(Window& w);
void ReportClose(Window& w, INT_PTR result);
void ReportTitle(Window& w);
// A message box was answered: the focus is reported once its handler has returned.
void ExpectFocusReport();
void FlushFocusReport();
bool FocusReportPending();
// Drops the queued messages of destroyed windows.
void PurgeMessages(const std::vector<HWND>& windows);
bool OperatorActing();
// Marks an operator action that runs synchronously: focus moves it causes are its own.
struct OperatorScope {
    OperatorScope();
    ~OperatorScope();
};
// Where the operator points: the position posted input messages carry.
void SetOperatorCursor(POINT pt);

// Controls' window procedures.
LRESULT StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ListViewProc(HWND, UINT, WPARAM, LPARAM);
LRESULT TrackbarProc(HWND, UINT, WPARAM, LPARAM);
LRESULT DialogProc(HWND, UINT, WPARAM, LPARAM);

// Geometry the operator and the hit tests share.
inline constexpr int kListItemHeight = 13;
inline constexpr int kListViewHeaderHeight = 19;
inline constexpr int kListViewRowHeight = 16;
int VisibleRows(const Window& w); // rows of a list box or list view that fit its client area

// Text helpers.
int CopyText(const std::string& text, LPSTR buffer, int cchMax); // as WM_GETTEXT copies
int CompareNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);

template <class Done> bool RunModalLoop(HWND hOwner, Done done) {
    while (!done()) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            if (!hOwner || !IsDialogMessageA(hOwner, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            continue;
        }
        Idle();
    }
    return true;
}

} // namespace winplat::ui
