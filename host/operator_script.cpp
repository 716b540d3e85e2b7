#include "operator_script.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <winplat/htmlhelp.h>
#include <winplat/utf.h>

namespace host {

namespace ui = winplat::ui;

namespace {

// The C escapes a script line may hold: \n \r \t \\ \" and \xHH.
bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'x': {
            size_t digits = 0;
            int value = 0;
            while (digits < 2 && i + 1 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                char c = text[++i];
                value = value * 16 + (std::isdigit(static_cast<unsigned char>(c))
                                          ? c - '0'
                                          : (std::tolower(c) - 'a' + 10));
                ++digits;
            }
            if (digits == 0)
                return false;
            out += static_cast<char>(value);
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool ParseInt(const std::string& text, int& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || n < INT32_MIN || n > INT32_MAX)
        return false;
    value = static_cast<int>(n);
    return true;
}

// Script and transcript are UTF-8; windows hold text in the ANSI code page.
std::string Utf8FromAnsi(const std::string& ansi) {
    if (ansi.empty())
        return {};
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
    return winplat::Utf8FromUtf16(wide);
}

// False when a character has no place in the code page (it cannot be typed).
bool AnsiFromUtf8(const std::string& utf8, std::string& ansi) {
    std::u16string wide = winplat::Utf16FromUtf8(utf8);
    ansi.clear();
    if (wide.empty())
        return true;
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    ansi.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        ansi.data(), n, nullptr, &usedDefault);
    return !usedDefault && wide.find(u'\uFFFD') == std::u16string::npos;
}

std::string IdText(int id) {
    return id == -1 || id == 0xFFFF ? "-" : std::to_string(id);
}

std::string ResultText(INT_PTR result) {
    if (result == 1)
        return "OK";
    if (result == 2)
        return "Cancel";
    return std::to_string(result);
}

} // namespace

OperatorScript::OperatorScript(std::vector<std::string> lines,
                               std::function<void(const std::string&)> write)
    : m_lines(std::move(lines)), m_write(std::move(write)) {
    m_previous = ui::SetObserver(this);
}

OperatorScript::~OperatorScript() {
    ui::SetObserver(m_previous);
    ui::HoldKeys(false, false);
}

bool OperatorScript::ReadFile(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

std::string OperatorScript::Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                out += hex;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void OperatorScript::Log(const std::string& text) {
    m_write("log " + Quote(text));
}

void OperatorScript::OnOpen(HWND, UINT templateId, const std::string& title) {
    m_write("open " + std::to_string(templateId) + " " + Quote(Utf8FromAnsi(title)));
}

void OperatorScript::OnTitle(HWND, UINT templateId, const std::string& title) {
    m_write("title " + std::to_string(templateId) + " " + Quote(Utf8FromAnsi(title)));
}

void OperatorScript::OnBox(const std::string& caption, const std::string& text, UINT) {
    m_write("box " + Quote(Utf8FromAnsi(caption)) + " " + Quote(Utf8FromAnsi(text)));
}

void OperatorScript::OnFocus(HWND, int controlId) {
    m_write("focus " + IdText(controlId));
}

void OperatorScript::OnClose(HWND, UINT templateId, INT_PTR result) {
    m_write("close " + std::to_string(templateId) + " " + ResultText(result));
}

void OperatorScript::OnHelp(const std::string& path, UINT command, DWORD_PTR data,
                            bool windowShown) {
    std::string what;
    if (command == HH_HELP_CONTEXT)
        what = "context " + std::to_string(data);
    else if (command == HH_DISPLAY_TOC)
        what = "contents";
    else
        what = "topic " + Quote(data ? reinterpret_cast<const char*>(data) : "");
    m_write("help " + Quote(Utf8FromAnsi(path)) + " " + what);
    m_write(std::string("help-window ") + (windowShown ? "yes" : "no"));
}

bool OperatorScript::WindUp() {
    ui::BoxState box;
    if (ui::CurrentBox(&box)) {
        int button = ui::DefaultAnswer(box.type);
        m_write("answer " + ui::ButtonName(button) + " (default)");
        ui::Answer(button);
        return true;
    }
    std::vector<HWND> open = ui::OpenWindows();
    if (open.empty())
        return false;
    // A person leaving a dialog open walks away from it: it is cancelled.
    PostMessageA(open.back(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(open.back(), IDCANCEL)));
    return true;
}

bool OperatorScript::OnIdle() {
    // Skip blank lines and comments to the next action.
    while (m_error.empty() && m_next < m_lines.size()) {
        const std::string& line = m_lines[m_next];
        size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line[start] != '#')
            break;
        ++m_next;
    }
    if (Finished())
        return WindUp();

    const std::string& line = m_lines[m_next];
    std::string action = line.substr(line.find_first_not_of(" \t"));
    std::string verb = action.substr(0, action.find(' '));
    // Any action but an answer first answers an open message box with its first button,
    // and runs once the program has gone on.
    if (verb != "answer" && ui::CurrentBox(nullptr)) {
        ui::BoxState box;
        ui::CurrentBox(&box);
        int button = ui::DefaultAnswer(box.type);
        m_write("answer " + ui::ButtonName(button) + " (default)");
        ui::Answer(button);
        return true;
    }
    m_lineNumber = m_next + 1;
    ++m_next;
    if (!Play(action)) {
        m_error = "line " + std::to_string(m_lineNumber) + ": " + m_error;
        return WindUp();
    }
    return true;
}

HWND OperatorScript::Target() {
    std::vector<HWND> open = ui::OpenWindows();
    if (m_window) {
        for (auto it = open.rbegin(); it != open.rend(); ++it)
            if (ui::TemplateOf(*it) == m_window)
                return *it;
        m_window = 0; // that window has closed: back to the newest
    }
    return open.empty() ? nullptr : open.back();
}

void OperatorScript::Dump(HWND hWnd) {
    for (const ui::ControlState& c : ui::Controls(hWnd)) {
        std::string line =
            "control " + IdText(c.id) + " " + c.kind + " " + Quote(Utf8FromAnsi(c.text));
        if (c.kind == "check" && c.checked)
            line += " checked";
        if (c.kind == "slider")
            line += " pos " + std::to_string(c.pos) + " range " + std::to_string(c.rangeMin) + " " +
                    std::to_string(c.rangeMax);
        if (c.selected >= 0 && c.selected < static_cast<int>(c.items.size()))
            line += " selected " + Quote(Utf8FromAnsi(c.items[c.selected]));
        if (!c.items.empty()) {
            line += " items";
            for (const std::string& item : c.items)
                line += " " + Quote(Utf8FromAnsi(item));
        }
        m_write(line);
    }
}

bool OperatorScript::Play(const std::string& action) {
    std::string verb = action.substr(0, action.find(' '));
    std::string rest = action.size() > verb.size() ? action.substr(verb.size() + 1) : "";
    // "ID REST": REST is the rest of the line after one blank, taken literally.
    auto split = [&](int& id, std::string& text, bool needText) {
        std::string idText = rest.substr(0, rest.find(' '));
        text = rest.size() > idText.size() ? rest.substr(idText.size() + 1) : "";
        if (!ParseInt(idText, id)) {
            m_error = "expected a control id, found \"" + idText + "\"";
            return false;
        }
        if (!needText && !text.empty()) {
            m_error = "unexpected text after the control id";
            return false;
        }
        std::string raw = text, utf8;
        if (!Unescape(raw, utf8)) {
            m_error = "bad escape in \"" + raw + "\"";
            return false;
        }
        if (!AnsiFromUtf8(utf8, text)) {
            m_error = "\"" + raw + "\" holds a character the code page cannot hold";
            return false;
        }
        return true;
    };
    auto done = [&](const std::string& why) {
        if (!why.empty())
            m_error = why;
        return why.empty();
    };

    if (verb == "keys") {
        if (rest == "shift+ctrl" || rest == "ctrl+shift")
            ui::HoldKeys(true, true);
        else if (rest == "shift")
            ui::HoldKeys(true, false);
        else if (rest == "ctrl")
            ui::HoldKeys(false, true);
        else if (rest == "none")
            ui::HoldKeys(false, false);
        else
            return done("keys takes shift+ctrl, shift, ctrl or none");
        return true;
    }
    if (verb == "answer") {
        int button = ui::ButtonFromName(rest);
        if (!button)
            return done("answer takes OK, Cancel, Yes or No");
        if (!ui::CurrentBox(nullptr))
            return done("no message box is open");
        if (!done(ui::Answer(button)))
            return false;
        m_write("answer " + ui::ButtonName(button));
        return true;
    }
    if (verb == "window") {
        int id = 0;
        if (!ParseInt(rest, id) || id <= 0)
            return done("window takes a template id");
        for (HWND h : ui::OpenWindows())
            if (ui::TemplateOf(h) == static_cast<UINT>(id)) {
                m_window = static_cast<UINT>(id);
                return true;
            }
        return done("no open window was made from template " + std::to_string(id));
    }
    HWND hWnd = Target();
    if (!hWnd)
        return done("no window is open");
    if (verb == "dump") {
        if (!rest.empty())
            return done("dump takes nothing after it");
        Dump(hWnd);
        return true;
    }
    int id = 0;
    std::string text;
    if (verb == "type" || verb == "paste" || verb == "pick") {
        if (!split(id, text, true))
            return false;
        if (verb == "type")
            return done(ui::Type(hWnd, id, text));
        if (verb == "paste")
            return done(ui::Paste(hWnd, id, text));
        return done(ui::Pick(hWnd, id, text));
    }
    if (verb == "click") {
        if (!split(id, text, false))
            return false;
        return done(ui::Click(hWnd, id));
    }
    if (verb == "slide") {
        std::string posText;
        if (!split(id, posText, true))
            return false;
        int pos = 0;
        if (!ParseInt(posText, pos))
            return done("slide takes a control id and a position");
        return done(ui::Slide(hWnd, id, pos));
    }
    if (verb == "key") {
        if (!split(id, text, true))
            return false;
        int vk = text == "up"     ? VK_UP
                 : text == "down" ? VK_DOWN
                 : text == "home" ? VK_HOME
                 : text == "end"  ? VK_END
                                  : 0;
        if (!vk)
            return done("key takes up, down, home or end");
        return done(ui::Key(hWnd, id, vk));
    }
    return done("unknown action \"" + verb + "\"");
}

} // namespace host
