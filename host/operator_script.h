// An operator script played against the platform's windows, and the transcript of what
// appeared on the screen. One action a line:
//   type ID TEXT      replace the text of edit ID by typing TEXT (C escapes allowed)
//   paste ID TEXT     replace it as pasting does (no digits-only filter)
//   click ID          click button or check box ID
//   pick ID TEXT      pick the entry TEXT of a list, drop-down list or list view (first column)
//   key ID up|down|home|end   move a list view's selection with the keyboard
//   slide ID POS      drag slider ID to POS
//   keys shift+ctrl|shift|ctrl|none   keys held from now on
//   answer OK|Cancel|Yes|No   press a button of the open message box
//   dump              list every control of the window acted on
//   window ID         act on the open window made from template ID (default: the newest)
// Empty lines and lines starting with "#" are skipped.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <winplat/ui_operator.h>

namespace host {

class OperatorScript : public winplat::ui::Observer {
public:
    // write receives each transcript line, without its line break.
    OperatorScript(std::vector<std::string> lines, std::function<void(const std::string&)> write);
    ~OperatorScript() override;

    // Reads a script file; false when it cannot be read.
    static bool ReadFile(const std::string& path, std::vector<std::string>& lines);

    // A text the program logged (one WriteLog call or one log-window message).
    void Log(const std::string& text);
    // Whether every line has been played (or the script stopped at an error).
    bool Finished() const { return m_next >= m_lines.size() || !m_error.empty(); }
    // "line N: why" when the script stopped at a bad line, else empty.
    const std::string& Error() const { return m_error; }

    // A text in the transcript's quoted form, with C escapes.
    static std::string Quote(const std::string& text);

    void OnOpen(HWND hWnd, UINT templateId, const std::string& title) override;
    void OnTitle(HWND hWnd, UINT templateId, const std::string& title) override;
    void OnBox(const std::string& caption, const std::string& text, UINT type) override;
    void OnFocus(HWND hWnd, int controlId) override;
    void OnClose(HWND hWnd, UINT templateId, INT_PTR result) override;
    void OnHelp(const std::string& path, UINT command, DWORD_PTR data, bool windowShown) override;
    bool OnIdle() override;

private:
    // Runs one line; false with m_error set when it is bad.
    bool Play(const std::string& line);
    HWND Target();
    void Dump(HWND hWnd);
    // Moves on past an open box (first button) or an open dialog (Cancel) once nothing
    // is left to play; false when nothing is open.
    bool WindUp();

    std::vector<std::string> m_lines;
    size_t m_next = 0;
    size_t m_lineNumber = 0;
    std::function<void(const std::string&)> m_write;
    std::string m_error;
    UINT m_window = 0; // template chosen with "window", 0 for the newest
    winplat::ui::Observer* m_previous = nullptr;
};

} // namespace host
