// The operator interface of the window manager: what a person sees on the screen and
// what a person does there. A test or a script observes every window, message box and
// control, and acts as a person would: typing, clicking, picking, sliding, holding
// Shift and Ctrl, answering message boxes. Actions become the window messages that a
// person's input produces, and take effect when the program's message loop runs them.
#pragma once

#include <string>
#include <vector>

#include "winuser.h"

// C++ entry points of the platform library.
#define WINPLAT_API_CPP __attribute__((visibility("default")))

namespace winplat::ui {

// Told what appears and happens on the screen, in order. All calls come on the thread
// that owns the windows.
class WINPLAT_API_CPP Observer {
public:
    virtual ~Observer() = default;
    // A dialog is shown to the operator, after its initialisation.
    virtual void OnOpen(HWND hWnd, UINT templateId, const std::string& title) {}
    // The title of a shown dialog changed.
    virtual void OnTitle(HWND hWnd, UINT templateId, const std::string& title) {}
    // A message box appears; it stays until the operator answers it.
    virtual void OnBox(const std::string& caption, const std::string& text, UINT type) {}
    // The focus is on control id (or on a window without an id: 0) after the program moved
    // it, after a dialog opened, or once the handler that showed a message box returned.
    virtual void OnFocus(HWND hWnd, int controlId) {}
    // A shown dialog ends (or a dialog that ended while it initialised is destroyed).
    virtual void OnClose(HWND hWnd, UINT templateId, INT_PTR result) {}
    // The program asked the help viewer for a topic.
    virtual void OnHelp(const std::string& path, UINT command, DWORD_PTR data, bool windowShown) {}
    // A message loop has nothing left to do: the operator may act now. Returns false when
    // the operator will do nothing more (a loop then waits for messages from elsewhere).
    virtual bool OnIdle() { return false; }
};

// One observer at a time; null detaches it. Returns the previous one.
WINPLAT_API_CPP Observer* SetObserver(Observer* pObserver);
WINPLAT_API_CPP Observer* GetObserver();
// True when windows are drawn on a display a person looks at; false for the headless
// back-end, where only the operator interface sees them.
WINPLAT_API_CPP bool HasDisplay();

// A message box as the operator sees it.
struct BoxState {
    std::string caption;
    std::string text;
    UINT type = 0;                    // MB_ flags
    std::vector<std::string> buttons; // "OK", "Cancel", "Yes", "No", ... in screen order
};

// A control as the operator sees it.
struct ControlState {
    HWND hWnd = nullptr;
    int id = 0;
    std::string kind; // static, edit, button, check, list, combo, listview, slider, window
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool focused = false;
    bool checked = false;
    int pos = 0, rangeMin = 0, rangeMax = 0; // slider
    int selected = -1;                       // list, combo, listview
    std::vector<std::string> items;          // a list view's rows: columns joined by a tab
    RECT rect{};                             // in the dialog's client coordinates
};

// Dialogs shown to the operator, oldest first.
WINPLAT_API_CPP std::vector<HWND> OpenWindows();
// The template a dialog was made from (0 for other windows).
WINPLAT_API_CPP UINT TemplateOf(HWND hWnd);
// The controls of a window, in tab order.
WINPLAT_API_CPP std::vector<ControlState> Controls(HWND hWnd);
// The message box the operator must answer now, if any.
WINPLAT_API_CPP bool CurrentBox(BoxState* pBox);

// Actions. Each returns an empty text when done, else why it cannot be done (no such
// control, a disabled control, an entry that is not in the list, ...).
// Replaces the text of an edit by typing it: digits-only edits drop other characters,
// typing stops at the edit's limit, a line break becomes a new line in a multi-line edit
// and is not taken by a single-line one.
WINPLAT_API_CPP std::string Type(HWND hWnd, int id, const std::string& text);
// Replaces the text of an edit as pasting does: no digits-only filter.
WINPLAT_API_CPP std::string Paste(HWND hWnd, int id, const std::string& text);
// Clicks a button or check box.
WINPLAT_API_CPP std::string Click(HWND hWnd, int id);
// Picks the entry of a list box or drop-down list, or the row of a list view whose first
// column reads item; scrolls it into view first.
WINPLAT_API_CPP std::string Pick(HWND hWnd, int id, const std::string& item);
// Moves a list view's selection with the keyboard (VK_UP, VK_DOWN, VK_HOME, VK_END).
WINPLAT_API_CPP std::string Key(HWND hWnd, int id, int vk);
// Drags a slider's thumb to pos (kept within the slider's range).
WINPLAT_API_CPP std::string Slide(HWND hWnd, int id, int pos);
// Keys held from now on.
WINPLAT_API_CPP void HoldKeys(bool bShift, bool bCtrl);
// Presses a button of the open message box (IDOK, IDCANCEL, IDYES, IDNO, ...).
WINPLAT_API_CPP std::string Answer(int button);
// The button a message box answers with when the operator just moves on: its first.
WINPLAT_API_CPP int DefaultAnswer(UINT type);
// The name of a box button ("OK") and back (0 when unknown).
WINPLAT_API_CPP std::string ButtonName(int button);
WINPLAT_API_CPP int ButtonFromName(const std::string& name);

// Windows that exist, shown or not (for checks that nothing is left behind), and
// messages waiting in the queue.
WINPLAT_API_CPP size_t WindowCount();
WINPLAT_API_CPP size_t QueuedMessageCount();

} // namespace winplat::ui
