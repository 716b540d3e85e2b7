// The operator's side of the screen: reading what is shown and acting on it. Actions
// post the input messages that a person's mouse and keyboard produce, so they take
// effect when the program's message loop runs them, as real input does.
#include <algorithm>

#include <winplat/winnls.h>

#include "ui_internal.h"

namespace winplat::ui {

namespace {

std::string KindName(const Window& c) {
    switch (c.kind) {
    case Kind::Static:
        return "static";
    case Kind::Button: {
        DWORD type = c.style & BS_TYPEMASK;
        return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX ? "check" : "button";
    }
    case Kind::Edit:
        return "edit";
    case Kind::ListBox:
        return "list";
    case Kind::ComboBox:
        return "combo";
    case Kind::ListView:
        return "listview";
    case Kind::Trackbar:
        return "slider";
    default:
        return "window";
    }
}

std::string RowLine(const ListViewRow& row, size_t columns) {
    std::string line;
    size_t n = std::max(columns, row.cells.size());
    for (size_t i = 0; i < n; ++i) {
        if (i)
            line += '\t';
        if (i < row.cells.size())
            line += row.cells[i];
    }
    return line;
}

// The control the operator means, or why it cannot take input.
std::string Reach(HWND hWnd, int id, Window*& control) {
    Window* dlg = Find(hWnd);
    if (!dlg || dlg->destroying)
        return "the window is not open";
    if (!IsWindowEnabled(TopLevelOf(hWnd)))
        return "the window takes no input while a dialog or message box is open over it";
    HWND hCtl = GetDlgItem(hWnd, id);
    control = Find(hCtl);
    if (!control)
        return "the window has no control " + std::to_string(id);
    if (!IsWindowVisible(hCtl))
        return "control " + std::to_string(id) + " is hidden";
    if (!control->enabled)
        return "control " + std::to_string(id) + " is disabled";
    return {};
}

// Posts a click at a point of the control's client area.
void PostClick(Window& control, POINT pt) {
    POINT screen = pt;
    ClientToScreen(control.handle, &screen);
    SetOperatorCursor(screen);
    LPARAM at = MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y));
    PostMessageA(control.handle, WM_LBUTTONDOWN, 1, at);
    PostMessageA(control.handle, WM_LBUTTONUP, 0, at);
}

POINT Centre(const Window& control) {
    RECT r;
    GetClientRect(control.handle, &r);
    return POINT{r.right / 2, r.bottom / 2};
}

} // namespace

std::vector<ControlState> Controls(HWND hWnd) {
    std::vector<ControlState> out;
    Window* dlg = Find(hWnd);
    if (!dlg)
        return out;
    HWND focus = GetFocus();
    for (HWND h : dlg->children) {
        Window* c = Find(h);
        if (!c || c->destroying)
            continue;
        ControlState s;
        s.hWnd = h;
        s.id = c->id;
        s.kind = KindName(*c);
        int cch = GetWindowTextLengthA(h);
        std::string text(static_cast<size_t>(cch) + 1, '\0');
        GetWindowTextA(h, text.data(), cch + 1);
        text.resize(static_cast<size_t>(cch));
        s.text = c->kind == Kind::ListBox ? std::string() : text;
        s.enabled = c->enabled;
        s.visible = c->visible;
        s.focused = h == focus;
        s.checked = c->checked;
        s.rect = c->rect;
        switch (c->kind) {
        case Kind::Trackbar:
            s.pos = c->tbPos;
            s.rangeMin = c->tbMin;
            s.rangeMax = c->tbMax;
            break;
        case Kind::ListBox:
        case Kind::ComboBox:
            s.selected = c->curSel;
            for (const ListEntry& e : c->entries)
                s.items.push_back(e.text);
            break;
        case Kind::ListView:
            for (size_t i = 0; i < c->rows.size(); ++i) {
                s.items.push_back(RowLine(c->rows[i], c->columns.size()));
                if (s.selected < 0 && (c->rows[i].state & LVIS_SELECTED))
                    s.selected = static_cast<int>(i);
            }
            break;
        default:
            break;
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::string Type(HWND hWnd, int id, const std::string& text) {
    Window* c = nullptr;
    if (std::string why = Reach(hWnd, id, c); !why.empty())
        return why;
    if (c->kind != Kind::Edit)
        return "control " + std::to_string(id) + " is not an edit";
    PostClick(*c, POINT{1, 1});
    PostMessageA(c->handle, EM_SETSEL, 0, -1);
    if (text.empty()) {
        PostMessageA(c->handle, WM_CHAR, '\b', 1);
        return {};
    }
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // CR LF is one line break
        WPARAM ch = byte == '\n' ? '\r' : byte;
        if (IsDBCSLeadByte(byte) && i + 1 < text.size())
            ch = static_cast<WPARAM>(byte) << 8 | static_cast<unsigned char>(text[++i]);
        PostMessageA(c->handle, WM_CHAR, ch, 1);
    }
    return {};
}

std::string Paste(HWND hWnd, int id, const std::string& text) {
    Window* c = nullptr;
    if (std::string why = Reach(hWnd, id, c); !why.empty())
        return why;
    if (c->kind != Kind::Edit)
        return "control " + std::to_string(id) + " is not an edit";
    OperatorScope scope;
    SetFocusQuiet(c->handle);
    std::string pasted = text;
    if (!(c->style & ES_MULTILINE))
        pasted = pasted.substr(0, pasted.find_first_of("\r\n"));
    if (pasted.size() > c->limit)
        pasted.resize(c->limit);
    c->text = pasted;
    c->selStart = c->selEnd = static_cast<DWORD>(pasted.size());
    HWND h = c->handle;
    NotifyParent(*c, EN_UPDATE);
    if (Window* again = Find(h))
        NotifyParent(*again, EN_CHANGE);
    return {};
}

std::string Click(HWND hWnd, int id) {
    Window* c = nullptr;
    if (std::string why = Reach(hWnd, id, c); !why.empty())
        return why;
    if (c->kind != Kind::Button)
        return "control " + std::to_string(id) + " is not a button";
    PostClick(*c, Centre(*c));
    return {};
}

std::string Pick(HWND hWnd, int id, const std::string& item) {
    Window* c = nullptr;
    if (std::string why = Reach(hWnd, id, c); !why.empty())
        return why;
    std::string missing = "\"" + item + "\" is not in the list of control " + std::to_string(id);
    switch (c->kind) {
    case Kind::ListBox: {
        auto it = std::find_if(c->entries.begin(), c->entries.end(),
                               [&](const ListEntry& e) { return e.text == item; });
        if (it == c->entries.end())
            return missing;
        int row = static_cast<int>(it - c->entries.begin());
        int visible = VisibleRows(*c);
        if (row < c->topIndex || row >= c->topIndex + visible)
            c->topIndex = std::max(0, row - visible + 1);
        PostClick(*c, POINT{4, (row - c->topIndex) * kListItemHeight + kListItemHeight / 2});
        return {};
    }
    case Kind::ComboBox: {
        auto it = std::find_if(c->entries.begin(), c->entries.end(),
                               [&](const ListEntry& e) { return e.text == item; });
        if (it == c->entries.end())
            return missing;
        PostMessageA(c->handle, WPM_PICK, static_cast<WPARAM>(it - c->entries.begin()), 0);
        return {};
    }
    case Kind::ListView: {
        auto it = std::find_if(c->rows.begin(), c->rows.end(), [&](const ListViewRow& r) {
            return !r.cells.empty() && r.cells[0] == item;
        });
        if (it == c->rows.end())
            return missing;
        int row = static_cast<int>(it - c->rows.begin());
        SendMessageA(c->handle, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
        int x = c->columns.empty() ? 4 : std::max(1, std::min(c->columns[0].cx / 2, 40));
        PostClick(*c, POINT{x, kListViewHeaderHeight + (row - c->topIndex) * kListViewRowHeight +
                                   kListViewRowHeight / 2});
        return {};
    }
    default:
        return "control " + std::to_string(id) + " is not a list";
    }
}

std::string Key(HWND hWnd, int id, int vk) {
    Window* c = nullptr;
    if (std::string why = Reach(hWnd, id, c); !why.empty())
        return why;
    {
        OperatorScope scope;
        SetFocusQuiet(c->handle);
    }
    PostMessageA(c->handle, WM_KEYDOWN, static_cast<WPARAM>(vk), 1);
    return {};
}

std::string Slide(HWND hWnd, int id, int pos) {
    Window* c = nullptr;
    if (std::string why = Reach(hWnd, id, c); !why.empty())
        return why;
    if (c->kind != Kind::Trackbar)
        return "control " + std::to_string(id) + " is not a slider";
    PostMessageA(c->handle, WPM_SLIDE, static_cast<WPARAM>(static_cast<INT_PTR>(pos)), 0);
    return {};
}

} // namespace winplat::ui
