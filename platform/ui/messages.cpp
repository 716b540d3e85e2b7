// The message queue, the key state and what the operator is told.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include <winplat/winbase.h>
#include <winplat/winerror.h>

#include "ui_internal.h"

namespace winplat::ui {

namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<MSG> messages;
};

Queue& Q() {
    static Queue queue;
    return queue;
}

// The cursor as the last message retrieved saw it, and where the operator points now.
POINT g_messagePos{};
DWORD g_messageTime = 0;
POINT g_cursor{};
bool g_shift = false;
bool g_ctrl = false;

Observer* g_observer = nullptr;
bool g_focusReportPending = false;
int g_operatorActing = 0;

bool Matches(const MSG& msg, HWND hWnd, UINT min, UINT max) {
    if (hWnd && msg.hwnd != hWnd && !IsChild(hWnd, msg.hwnd))
        return false;
    if (min == 0 && max == 0)
        return true;
    return msg.message >= min && msg.message <= max;
}

bool Take(MSG* out, HWND hWnd, UINT min, UINT max, bool remove) {
    std::lock_guard lock(Q().mutex);
    auto& messages = Q().messages;
    // The quit message comes only once the queue holds nothing else for the caller.
    auto it = std::find_if(messages.begin(), messages.end(), [&](const MSG& m) {
        return m.message != WM_QUIT && Matches(m, hWnd, min, max);
    });
    if (it == messages.end())
        it = std::find_if(messages.begin(), messages.end(),
                          [](const MSG& m) { return m.message == WM_QUIT; });
    if (it == messages.end())
        return false;
    *out = *it;
    if (remove)
        messages.erase(it);
    return true;
}

DWORD Now() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

Observer* CurrentObserver() {
    return g_observer;
}
Observer* GetObserver() {
    return g_observer;
}
bool HasDisplay() {
    return false;
}

Observer* SetObserver(Observer* pObserver) {
    Observer* old = g_observer;
    g_observer = pObserver;
    return old;
}

bool OperatorActing() {
    return g_operatorActing > 0;
}

OperatorScope::OperatorScope() {
    ++g_operatorActing;
}
OperatorScope::~OperatorScope() {
    --g_operatorActing;
}

void Idle() {
    FlushFocusReport();
    if (g_observer) {
        bool acted = false;
        {
            OperatorScope scope;
            acted = g_observer->OnIdle();
        }
        if (acted)
            return;
    }
    // Nobody acts here: wait for a message from another thread.
    std::unique_lock lock(Q().mutex);
    Q().arrived.wait(lock, [] { return !Q().messages.empty(); });
}

void ReportOpen(Window& w) {
    w.opened = true;
    g_focusReportPending = false;
    if (!g_observer)
        return;
    g_observer->OnOpen(w.handle, w.templateId, w.text);
    HWND focus = GetFocus();
    Window* f = Find(focus);
    g_observer->OnFocus(focus, f ? f->id : 0);
}

void ReportClose(Window& w, INT_PTR result) {
    if (w.closeReported)
        return;
    FlushFocusReport();
    w.closeReported = true;
    if (g_observer)
        g_observer->OnClose(w.handle, w.templateId, result);
}

void ReportTitle(Window& w) {
    if (g_observer && w.kind == Kind::Dialog && w.opened && !w.closeReported && !w.parent)
        g_observer->OnTitle(w.handle, w.templateId, w.text);
}

void ExpectFocusReport() {
    g_focusReportPending = true;
}
bool FocusReportPending() {
    return g_focusReportPending;
}

void FlushFocusReport() {
    if (!g_focusReportPending)
        return;
    g_focusReportPending = false;
    if (!g_observer)
        return;
    HWND focus = GetFocus();
    Window* f = Find(focus);
    g_observer->OnFocus(focus, f ? f->id : 0);
}

void PurgeMessages(const std::vector<HWND>& windows) {
    std::lock_guard lock(Q().mutex);
    std::erase_if(Q().messages, [&](const MSG& m) {
        return m.hwnd && std::find(windows.begin(), windows.end(), m.hwnd) != windows.end();
    });
}

size_t QueuedMessageCount() {
    std::lock_guard lock(Q().mutex);
    return Q().messages.size();
}

bool PumpOne(HWND hDialog) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (!hDialog || !IsDialogMessageA(hDialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void SetOperatorCursor(POINT pt) {
    g_cursor = pt;
}

void HoldKeys(bool bShift, bool bCtrl) {
    g_shift = bShift;
    g_ctrl = bCtrl;
}

} // namespace winplat::ui

using namespace winplat::ui;

WINPLAT_API LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!Find(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return Send(hWnd, Msg, wParam, lParam);
}

WINPLAT_API BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    // Any thread may post; only the windows' own thread may look a handle up (the others
    // would race with it), and dispatching skips a handle that has gone meanwhile.
    if (hWnd && OnWindowThread() && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard lock(Q().mutex);
        Q().messages.push_back(MSG{hWnd, Msg, wParam, lParam, Now(), g_cursor});
    }
    Q().arrived.notify_one();
    return TRUE;
}

WINPLAT_API void PostQuitMessage(int nExitCode) {
    {
        std::lock_guard lock(Q().mutex);
        Q().messages.push_back(
            MSG{nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0, Now(), g_cursor});
    }
    Q().arrived.notify_one();
}

WINPLAT_API BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                              UINT wRemoveMsg) {
    MSG msg;
    if (!lpMsg || !Take(&msg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg & PM_REMOVE))
        return FALSE;
    *lpMsg = msg;
    if (wRemoveMsg & PM_REMOVE) {
        g_messagePos = msg.pt;
        g_messageTime = msg.time;
    }
    return TRUE;
}

WINPLAT_API BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    while (!PeekMessageA(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, PM_REMOVE))
        Idle();
    return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

WINPLAT_API BOOL TranslateMessage(const MSG*) {
    // Input arrives as characters already; there are no key-to-character translations.
    return FALSE;
}

WINPLAT_API LRESULT DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd)
        return 0;
    if (!Find(lpMsg->hwnd))
        return 0;
    return Send(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

WINPLAT_API DWORD GetMessagePos(void) {
    return static_cast<DWORD>(MAKELONG(static_cast<WORD>(static_cast<SHORT>(g_messagePos.x)),
                                       static_cast<WORD>(static_cast<SHORT>(g_messagePos.y))));
}

WINPLAT_API LONG GetMessageTime(void) {
    return static_cast<LONG>(g_messageTime);
}

WINPLAT_API SHORT GetKeyState(int nVirtKey) {
    // A held key has the high bit set.
    bool held = (nVirtKey == VK_SHIFT && g_shift) || (nVirtKey == VK_CONTROL && g_ctrl);
    return held ? static_cast<SHORT>(0x8000) : 0;
}
