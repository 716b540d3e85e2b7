// Prowlet's dialogs: the common base with the log sink, and the property page that the
// host shows inside one of its windows.
#pragma once

#include <winplat/windows.h>
#include <winplat/winuser.h>

namespace prowlet {

// The log window message: wParam 0, lParam the line.
constexpr UINT kLogMessage = WM_USER + 3;

// Sends one log line to hWndLog when it names a window; otherwise the line is dropped.
void SendLogLine(HWND hWndLog, const char* pszLine);

class CDialog {
public:
    // Sends a log line to m_hWndLog, synchronously.
    void Log(const char* pszText) const { SendLogLine(m_hWndLog, pszText); }

    HWND m_hWnd = nullptr;
    HWND m_hWndParent = nullptr;
    HWND m_hWndLog = nullptr;
};

// The property page: edit 1000 (service key name), check box 1001 ("Restart on
// failure"), browse button 1002. Its window comes with the dialog toolkit; until it is
// created the page has no window, and everything that works through the page does
// nothing.
class CPropertyDialog : public CDialog {
public:
    char m_szText[512] = {};
};

} // namespace prowlet
