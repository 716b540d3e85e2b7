// The built-in controls: static, button and check box, edit, list box, drop-down list,
// report-view list and slider.
#include <algorithm>
#include <cstring>

#include <winplat/winnls.h>

#include "ui_internal.h"

namespace winplat::ui {

namespace {

LPCSTR Text(LPARAM lParam) {
    return lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
}

// Where a new entry goes in a sorted list: after the entries that sort equal to it.
int SortedPosition(const std::vector<ListEntry>& entries, const std::string& text) {
    auto it = std::upper_bound(
        entries.begin(), entries.end(), text,
        [](const std::string& t, const ListEntry& e) { return CompareNoCase(t, e.text) < 0; });
    return static_cast<int>(it - entries.begin());
}

// The list messages that list boxes and drop-down lists share, translated to one set.
enum class ListOp {
    Add,
    Insert,
    Delete,
    Reset,
    SetSel,
    GetSel,
    GetText,
    GetTextLen,
    Count,
    Find,
    FindExact,
    Select,
    GetData,
    SetData,
    None
};

// The operation of a list box message (LB_) or of a drop-down list's (CB_).
ListOp ListOpOf(UINT msg, bool comboBox) {
    struct Entry {
        UINT listBox, comboBox;
        ListOp op;
    };
    static constexpr Entry kTable[] = {
        {LB_ADDSTRING, CB_ADDSTRING, ListOp::Add},
        {LB_INSERTSTRING, CB_INSERTSTRING, ListOp::Insert},
        {LB_DELETESTRING, CB_DELETESTRING, ListOp::Delete},
        {LB_RESETCONTENT, CB_RESETCONTENT, ListOp::Reset},
        {LB_SETCURSEL, CB_SETCURSEL, ListOp::SetSel},
        {LB_GETCURSEL, CB_GETCURSEL, ListOp::GetSel},
        {LB_GETTEXT, CB_GETLBTEXT, ListOp::GetText},
        {LB_GETTEXTLEN, CB_GETLBTEXTLEN, ListOp::GetTextLen},
        {LB_GETCOUNT, CB_GETCOUNT, ListOp::Count},
        {LB_FINDSTRING, CB_FINDSTRING, ListOp::Find},
        {LB_FINDSTRINGEXACT, CB_FINDSTRINGEXACT, ListOp::FindExact},
        {LB_SELECTSTRING, CB_SELECTSTRING, ListOp::Select},
        {LB_GETITEMDATA, CB_GETITEMDATA, ListOp::GetData},
        {LB_SETITEMDATA, CB_SETITEMDATA, ListOp::SetData},
    };
    for (const Entry& e : kTable)
        if ((comboBox ? e.comboBox : e.listBox) == msg)
            return e.op;
    return ListOp::None;
}

LRESULT ListMessage(Window& w, ListOp op, bool sorted, WPARAM wParam, LPARAM lParam) {
    auto& entries = w.entries;
    int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    bool inRange = index >= 0 && index < static_cast<int>(entries.size());
    auto find = [&](bool exact) -> int {
        std::string wanted = Text(lParam);
        int n = static_cast<int>(entries.size());
        int start = index < -1 || index >= n ? -1 : index;
        for (int k = 1; k <= n; ++k) {
            int i = (start + k) % n;
            if (exact ? CompareNoCase(entries[i].text, wanted) == 0
                      : StartsWithNoCase(entries[i].text, wanted))
                return i;
        }
        return -1;
    };
    switch (op) {
    case ListOp::Add:
    case ListOp::Insert: {
        std::string text = Text(lParam);
        int at;
        if (op == ListOp::Add)
            at = sorted ? SortedPosition(entries, text) : static_cast<int>(entries.size());
        else
            at = index < 0 || index > static_cast<int>(entries.size())
                     ? static_cast<int>(entries.size())
                     : index;
        entries.insert(entries.begin() + at, ListEntry{text, 0});
        if (w.curSel >= at)
            ++w.curSel;
        return at;
    }
    case ListOp::Delete:
        if (!inRange)
            return -1;
        entries.erase(entries.begin() + index);
        if (w.curSel == index)
            w.curSel = -1;
        else if (w.curSel > index)
            --w.curSel;
        return static_cast<LRESULT>(entries.size());
    case ListOp::Reset:
        entries.clear();
        w.curSel = -1;
        w.topIndex = 0;
        return 0;
    case ListOp::SetSel:
        w.curSel = inRange ? index : -1;
        return inRange ? index : -1;
    case ListOp::GetSel:
        return w.curSel;
    case ListOp::GetText:
        if (!inRange)
            return -1;
        std::strcpy(reinterpret_cast<LPSTR>(lParam), entries[index].text.c_str());
        return static_cast<LRESULT>(entries[index].text.size());
    case ListOp::GetTextLen:
        return inRange ? static_cast<LRESULT>(entries[index].text.size()) : -1;
    case ListOp::Count:
        return static_cast<LRESULT>(entries.size());
    case ListOp::Find:
        return find(false);
    case ListOp::FindExact:
        return find(true);
    case ListOp::Select: {
        int found = find(false);
        if (found >= 0)
            w.curSel = found;
        return found;
    }
    case ListOp::GetData:
        return inRange ? entries[index].data : -1;
    case ListOp::SetData:
        if (!inRange)
            return -1;
        entries[index].data = lParam;
        return 0;
    case ListOp::None:
        break;
    }
    return 0;
}

} // namespace

LRESULT StaticProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

LRESULT ButtonProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    DWORD type = w->style & BS_TYPEMASK;
    switch (msg) {
    case BM_GETCHECK:
        return w->checked ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
        w->checked = wParam == BST_CHECKED;
        return 0;
    case BM_SETSTYLE:
        w->style = (w->style & ~0xFFFFu) | LOWORD(wParam);
        return 0;
    case WM_LBUTTONDOWN:
        if (w->enabled && type != BS_GROUPBOX)
            SetFocusQuiet(hWnd);
        return 0;
    case WM_LBUTTONUP:
    case BM_CLICK:
        if (!w->enabled || type == BS_GROUPBOX)
            return 0;
        if (type == BS_AUTOCHECKBOX)
            w->checked = !w->checked;
        NotifyParent(*w, BN_CLICKED);
        return 0;
    case WM_KEYDOWN:
        if (wParam == ' ')
            return ButtonProc(hWnd, BM_CLICK, 0, 0);
        return 0;
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

LRESULT EditProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    bool multiLine = w->style & ES_MULTILINE;
    switch (msg) {
    case WM_CREATE:
        if (!multiLine) // a single-line edit holds one line
            w->text = w->text.substr(0, w->text.find_first_of("\r\n"));
        return 0;
    case WM_SETTEXT: {
        // Setting the text is a change, whether or not the text differs.
        w->text = Text(lParam);
        if (!multiLine)
            w->text = w->text.substr(0, w->text.find_first_of("\r\n"));
        w->selStart = w->selEnd = 0;
        NotifyParent(*w, EN_UPDATE);
        if (Find(hWnd))
            NotifyParent(*w, EN_CHANGE);
        return TRUE;
    }
    case EM_SETLIMITTEXT:
        w->limit = wParam ? static_cast<UINT>(wParam) : 0x7FFFFFFE;
        return 0;
    case EM_GETLIMITTEXT:
        return w->limit;
    case EM_SETSEL: {
        auto size = static_cast<DWORD>(w->text.size());
        auto start = static_cast<INT_PTR>(wParam), end = static_cast<INT_PTR>(lParam);
        if (start < 0) {
            w->selStart = w->selEnd = size;
            return 0;
        }
        if (end < 0 || end > static_cast<INT_PTR>(size))
            end = size;
        w->selStart = static_cast<DWORD>(std::min<INT_PTR>(start, size));
        w->selEnd = static_cast<DWORD>(end);
        if (w->selStart > w->selEnd)
            std::swap(w->selStart, w->selEnd);
        return 0;
    }
    case EM_GETSEL:
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = w->selStart;
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = w->selEnd;
        return MAKELONG(static_cast<WORD>(w->selStart), static_cast<WORD>(w->selEnd));
    case WM_LBUTTONDOWN:
        if (w->enabled)
            SetFocusQuiet(hWnd);
        return 0;
    case WM_CHAR: {
        // Typing replaces the selection; digits-only edits refuse other characters, and
        // nothing is typed past the limit.
        if (!w->enabled || (w->style & ES_READONLY))
            return 0;
        char c = static_cast<char>(wParam);
        std::string insert;
        if (c == '\b') {
            if (w->selStart == w->selEnd && w->selStart > 0)
                --w->selStart;
        } else if (c == '\r' || c == '\n') {
            if (!multiLine)
                return 0;
            insert = "\r\n";
        } else if ((w->style & ES_NUMBER) && !(c >= '0' && c <= '9')) {
            return 0;
        } else {
            insert.assign(1, c);
            // A double-byte character arrives as its two bytes in one message.
            if (HIBYTE(LOWORD(wParam)))
                insert = std::string{static_cast<char>(HIBYTE(LOWORD(wParam))), c};
        }
        size_t kept = w->text.size() - (w->selEnd - w->selStart);
        if (!insert.empty() && kept + insert.size() > w->limit) {
            NotifyParent(*w, EN_MAXTEXT);
            return 0;
        }
        w->text.replace(w->selStart, w->selEnd - w->selStart, insert);
        w->selStart = w->selEnd = static_cast<DWORD>(w->selStart + insert.size());
        NotifyParent(*w, EN_UPDATE);
        if (Find(hWnd))
            NotifyParent(*w, EN_CHANGE);
        return 0;
    }
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

LRESULT ListBoxProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    if (ListOp op = ListOpOf(msg, false); op != ListOp::None)
        return ListMessage(*w, op, w->style & LBS_SORT, wParam, lParam);
    switch (msg) {
    case WM_LBUTTONDOWN: {
        if (!w->enabled)
            return 0;
        SetFocusQuiet(hWnd);
        int row = w->topIndex + GET_Y_LPARAM(lParam) / kListItemHeight;
        if (row >= 0 && row < static_cast<int>(w->entries.size()) && row != w->curSel) {
            w->curSel = row;
            if (w->style & LBS_NOTIFY)
                NotifyParent(*w, LBN_SELCHANGE);
        }
        return 0;
    }
    case WM_LBUTTONUP:
        return 0;
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

LRESULT ComboBoxProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    if (ListOp op = ListOpOf(msg, true); op != ListOp::None)
        return ListMessage(*w, op, w->style & CBS_SORT, wParam, lParam);
    switch (msg) {
    // A drop-down list shows the selected entry as its text.
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
        std::string shown = w->curSel >= 0 ? w->entries[w->curSel].text : std::string();
        if (msg == WM_GETTEXTLENGTH)
            return static_cast<LRESULT>(shown.size());
        return CopyText(shown, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    }
    case WM_SETTEXT: {
        int found = ListMessage(*w, ListOp::FindExact, false, static_cast<WPARAM>(-1), lParam);
        if (found < 0)
            return CB_ERR;
        w->curSel = found;
        return TRUE;
    }
    case WPM_PICK: {
        // The operator opened the list and clicked an entry.
        if (!w->enabled)
            return 0;
        SetFocusQuiet(hWnd);
        int index = static_cast<int>(wParam);
        if (index >= 0 && index < static_cast<int>(w->entries.size())) {
            bool changed = index != w->curSel;
            w->curSel = index;
            if (changed)
                NotifyParent(*w, CBN_SELCHANGE);
            if (Find(hWnd))
                NotifyParent(*w, CBN_SELENDOK);
        }
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (w->enabled)
            SetFocusQuiet(hWnd);
        return 0;
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

namespace {

// A list view's rows, as the list view messages address them.
LRESULT SetRowState(Window& w, int row, UINT state, UINT mask, bool notify);

std::string RowText(const ListViewRow& row, int sub) {
    return sub >= 0 && sub < static_cast<int>(row.cells.size()) ? row.cells[sub] : std::string();
}

void NotifyItemChanged(Window& w, int row, UINT oldState, UINT newState) {
    NMLISTVIEW nm{};
    nm.hdr.code = LVN_ITEMCHANGED;
    nm.iItem = row;
    nm.uOldState = oldState;
    nm.uNewState = newState;
    nm.uChanged = LVIF_STATE;
    nm.lParam = row >= 0 && row < static_cast<int>(w.rows.size()) ? w.rows[row].data : 0;
    NotifyParent(w, nm.hdr);
}

LRESULT SetRowState(Window& w, int row, UINT state, UINT mask, bool notify) {
    HWND hWnd = w.handle;
    auto apply = [&](int i) {
        if (!Find(hWnd))
            return;
        UINT old = w.rows[i].state;
        UINT now = (old & ~mask) | (state & mask);
        // One selected row at most in a single-selection list.
        if ((now & LVIS_SELECTED) && !(old & LVIS_SELECTED) && (w.style & LVS_SINGLESEL))
            for (size_t k = 0; k < w.rows.size(); ++k)
                if (static_cast<int>(k) != i && (w.rows[k].state & LVIS_SELECTED)) {
                    UINT was = w.rows[k].state;
                    w.rows[k].state &= ~LVIS_SELECTED;
                    if (notify)
                        NotifyItemChanged(w, static_cast<int>(k), was, w.rows[k].state);
                    if (!Find(hWnd))
                        return;
                }
        if (now & LVIS_FOCUSED)
            for (size_t k = 0; k < w.rows.size(); ++k)
                if (static_cast<int>(k) != i)
                    w.rows[k].state &= ~LVIS_FOCUSED;
        w.rows[i].state = now;
        if (notify && now != old)
            NotifyItemChanged(w, i, old, now);
    };
    if (row == -1) {
        for (size_t i = 0; i < w.rows.size(); ++i)
            apply(static_cast<int>(i));
        return TRUE;
    }
    if (row < 0 || row >= static_cast<int>(w.rows.size()))
        return FALSE;
    apply(row);
    return TRUE;
}

int SortedRowPosition(const Window& w, const std::string& text) {
    bool descending = w.style & LVS_SORTDESCENDING;
    auto it = std::upper_bound(w.rows.begin(), w.rows.end(), text,
                               [&](const std::string& t, const ListViewRow& r) {
                                   int c = CompareNoCase(t, RowText(r, 0));
                                   return descending ? c > 0 : c < 0;
                               });
    return static_cast<int>(it - w.rows.begin());
}

void EnsureVisible(Window& w, int row) {
    int visible = VisibleRows(w);
    if (row < w.topIndex)
        w.topIndex = row;
    else if (row >= w.topIndex + visible)
        w.topIndex = row - visible + 1;
}

int HitRow(const Window& w, POINT pt) {
    int total = 0;
    for (const ListViewColumn& c : w.columns)
        total += c.cx;
    if (pt.y < kListViewHeaderHeight || pt.x < 0 || pt.x >= total)
        return -1;
    int row = w.topIndex + (pt.y - kListViewHeaderHeight) / kListViewRowHeight;
    return row < static_cast<int>(w.rows.size()) ? row : -1;
}

} // namespace

LRESULT ListViewProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    bool inRange = index >= 0 && index < static_cast<int>(w->rows.size());
    switch (msg) {
    case LVM_INSERTCOLUMNA: {
        auto* col = reinterpret_cast<const LVCOLUMNA*>(lParam);
        if (!col)
            return -1;
        ListViewColumn c;
        if (col->mask & LVCF_TEXT)
            c.text = Text(reinterpret_cast<LPARAM>(col->pszText));
        if (col->mask & LVCF_WIDTH)
            c.cx = col->cx;
        if (col->mask & LVCF_FMT)
            c.fmt = col->fmt;
        int at = std::clamp(index, 0, static_cast<int>(w->columns.size()));
        w->columns.insert(w->columns.begin() + at, c);
        return at;
    }
    case LVM_GETCOLUMNA: {
        auto* col = reinterpret_cast<LVCOLUMNA*>(lParam);
        if (!col || index < 0 || index >= static_cast<int>(w->columns.size()))
            return FALSE;
        if (col->mask & LVCF_WIDTH)
            col->cx = w->columns[index].cx;
        if (col->mask & LVCF_FMT)
            col->fmt = w->columns[index].fmt;
        if (col->mask & LVCF_TEXT)
            CopyText(w->columns[index].text, col->pszText, col->cchTextMax);
        return TRUE;
    }
    case LVM_INSERTITEMA: {
        auto* item = reinterpret_cast<const LVITEMA*>(lParam);
        if (!item || item->iSubItem != 0)
            return -1;
        ListViewRow row;
        row.cells.assign(1, (item->mask & LVIF_TEXT) ? Text(reinterpret_cast<LPARAM>(item->pszText))
                                                     : "");
        if (item->mask & LVIF_PARAM)
            row.data = item->lParam;
        int at;
        if (w->style & (LVS_SORTASCENDING | LVS_SORTDESCENDING))
            at = SortedRowPosition(*w, row.cells[0]);
        else
            at = std::clamp(item->iItem, 0, static_cast<int>(w->rows.size()));
        w->rows.insert(w->rows.begin() + at, std::move(row));
        if (item->mask & LVIF_STATE)
            SetRowState(*w, at, item->state, item->stateMask, false);
        return at;
    }
    case LVM_SETITEMA:
    case LVM_SETITEMTEXTA: {
        auto* item = reinterpret_cast<const LVITEMA*>(lParam);
        int row = msg == LVM_SETITEMA ? (item ? item->iItem : -1) : index;
        if (!item || row < 0 || row >= static_cast<int>(w->rows.size()) || item->iSubItem < 0)
            return FALSE;
        ListViewRow& r = w->rows[row];
        if (msg == LVM_SETITEMTEXTA || (item->mask & LVIF_TEXT)) {
            if (static_cast<int>(r.cells.size()) <= item->iSubItem)
                r.cells.resize(static_cast<size_t>(item->iSubItem) + 1);
            r.cells[item->iSubItem] = Text(reinterpret_cast<LPARAM>(item->pszText));
        }
        if (msg == LVM_SETITEMA && item->iSubItem == 0) {
            if (item->mask & LVIF_PARAM)
                r.data = item->lParam;
            if (item->mask & LVIF_STATE)
                SetRowState(*w, row, item->state, item->stateMask, true);
        }
        return TRUE;
    }
    case LVM_GETITEMA: {
        auto* item = reinterpret_cast<LVITEMA*>(lParam);
        if (!item || item->iItem < 0 || item->iItem >= static_cast<int>(w->rows.size()))
            return FALSE;
        const ListViewRow& r = w->rows[item->iItem];
        if (item->mask & LVIF_TEXT)
            CopyText(RowText(r, item->iSubItem), item->pszText, item->cchTextMax);
        if (item->mask & LVIF_PARAM)
            item->lParam = r.data;
        if (item->mask & LVIF_STATE)
            item->state = r.state & item->stateMask;
        return TRUE;
    }
    case LVM_GETITEMTEXTA: {
        // A row that does not exist reads as an empty text.
        auto* item = reinterpret_cast<LVITEMA*>(lParam);
        if (!item)
            return 0;
        if (!inRange) {
            if (item->pszText && item->cchTextMax > 0)
                item->pszText[0] = '\0';
            return 0;
        }
        return CopyText(RowText(w->rows[index], item->iSubItem), item->pszText, item->cchTextMax);
    }
    case LVM_GETITEMCOUNT:
        return static_cast<LRESULT>(w->rows.size());
    case LVM_DELETEITEM:
        if (!inRange)
            return FALSE;
        w->rows.erase(w->rows.begin() + index);
        return TRUE;
    case LVM_DELETEALLITEMS:
        w->rows.clear();
        w->topIndex = 0;
        return TRUE;
    case LVM_GETNEXTITEM: {
        UINT flags = LOWORD(lParam);
        for (int i = index + 1; i < static_cast<int>(w->rows.size()); ++i) {
            UINT s = w->rows[i].state;
            if ((!(flags & LVNI_SELECTED) || (s & LVIS_SELECTED)) &&
                (!(flags & LVNI_FOCUSED) || (s & LVIS_FOCUSED)))
                return i;
        }
        return -1;
    }
    case LVM_SETITEMSTATE: {
        auto* item = reinterpret_cast<const LVITEMA*>(lParam);
        return item ? SetRowState(*w, index, item->state, item->stateMask, true) : FALSE;
    }
    case LVM_GETITEMSTATE:
        return inRange ? static_cast<LRESULT>(w->rows[index].state & static_cast<UINT>(lParam)) : 0;
    case LVM_FINDITEMA: {
        auto* find = reinterpret_cast<const LVFINDINFOA*>(lParam);
        if (!find || !(find->flags & LVFI_STRING) || !find->psz)
            return -1;
        for (int i = index + 1; i < static_cast<int>(w->rows.size()); ++i)
            if (CompareNoCase(RowText(w->rows[i], 0), find->psz) == 0)
                return i;
        return -1;
    }
    case LVM_HITTEST: {
        auto* hit = reinterpret_cast<LVHITTESTINFO*>(lParam);
        if (!hit)
            return -1;
        int row = HitRow(*w, hit->pt);
        hit->iItem = row;
        hit->iSubItem = 0;
        hit->flags = row >= 0 ? LVHT_ONITEMLABEL : LVHT_NOWHERE;
        return row;
    }
    case LVM_ENSUREVISIBLE:
        if (!inRange)
            return FALSE;
        EnsureVisible(*w, index);
        return TRUE;
    case LVM_GETTOPINDEX:
        return w->topIndex;
    case LVM_GETCOUNTPERPAGE:
        return VisibleRows(*w);
    case LVM_SORTITEMS: {
        auto compare = reinterpret_cast<PFNLVCOMPARE>(lParam);
        if (!compare)
            return FALSE;
        LPARAM sortParam = static_cast<LPARAM>(wParam);
        std::stable_sort(w->rows.begin(), w->rows.end(),
                         [&](const ListViewRow& a, const ListViewRow& b) {
                             return compare(a.data, b.data, sortParam) < 0;
                         });
        return TRUE;
    }
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        DWORD old = w->lvExStyle;
        DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFF;
        w->lvExStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
        return old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return w->lvExStyle;
    case WM_LBUTTONDOWN: {
        // Pressing the button selects the row under it; releasing it tells the parent.
        if (!w->enabled)
            return 0;
        SetFocusQuiet(hWnd);
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        int row = HitRow(*w, pt);
        if (row >= 0)
            SetRowState(*w, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED, true);
        return 0;
    }
    case WM_LBUTTONUP: {
        if (!w->enabled)
            return 0;
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        NMITEMACTIVATE nm{};
        nm.hdr.code = NM_CLICK;
        nm.iItem = HitRow(*w, pt);
        nm.ptAction = pt;
        NotifyParent(*w, nm.hdr);
        return 0;
    }
    case WM_KEYDOWN: {
        // The arrow keys move the selection; the parent hears of the change, not a click.
        if (!w->enabled || w->rows.empty())
            return 0;
        int focused = -1;
        for (size_t i = 0; i < w->rows.size(); ++i)
            if (w->rows[i].state & LVIS_FOCUSED)
                focused = static_cast<int>(i);
        int last = static_cast<int>(w->rows.size()) - 1;
        int target = focused;
        switch (wParam) {
        case VK_DOWN:
            target = focused < 0 ? 0 : std::min(focused + 1, last);
            break;
        case VK_UP:
            target = focused < 0 ? 0 : std::max(focused - 1, 0);
            break;
        case VK_HOME:
            target = 0;
            break;
        case VK_END:
            target = last;
            break;
        default:
            return 0;
        }
        for (size_t i = 0; i < w->rows.size(); ++i)
            if (static_cast<int>(i) != target && (w->rows[i].state & LVIS_SELECTED))
                SetRowState(*w, static_cast<int>(i), 0, LVIS_SELECTED, true);
        if (Find(hWnd)) {
            SetRowState(*w, target, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED,
                        true);
            EnsureVisible(*w, target);
        }
        return 0;
    }
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

LRESULT TrackbarProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hWnd);
    if (!w)
        return 0;
    auto clampPos = [&] {
        w->tbPos = std::clamp(w->tbPos, w->tbMin, std::max(w->tbMin, w->tbMax));
    };
    switch (msg) {
    case TBM_GETPOS:
        return w->tbPos;
    case TBM_GETRANGEMIN:
        return w->tbMin;
    case TBM_GETRANGEMAX:
        return w->tbMax;
    case TBM_SETPOS:
        w->tbPos = static_cast<int>(lParam);
        clampPos();
        return 0;
    case TBM_SETRANGE:
        w->tbMin = static_cast<SHORT>(LOWORD(lParam));
        w->tbMax = static_cast<SHORT>(HIWORD(lParam));
        clampPos();
        return 0;
    case TBM_SETRANGEMIN:
        w->tbMin = static_cast<int>(lParam);
        clampPos();
        return 0;
    case TBM_SETRANGEMAX:
        w->tbMax = static_cast<int>(lParam);
        clampPos();
        return 0;
    case WM_LBUTTONDOWN:
        if (w->enabled)
            SetFocusQuiet(hWnd);
        return 0;
    case WPM_SLIDE: {
        // The thumb dragged to a position: the parent hears the drag and its end.
        if (!w->enabled)
            return 0;
        SetFocusQuiet(hWnd);
        w->tbPos = static_cast<int>(static_cast<INT_PTR>(wParam));
        clampPos();
        UINT scroll = (w->style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
        HWND parent = w->parent;
        int pos = w->tbPos;
        Send(parent, scroll, MAKEWPARAM(TB_THUMBTRACK, pos), reinterpret_cast<LPARAM>(hWnd));
        if (IsWindow(hWnd))
            Send(parent, scroll, MAKEWPARAM(TB_THUMBPOSITION, pos), reinterpret_cast<LPARAM>(hWnd));
        if (IsWindow(hWnd))
            Send(parent, scroll, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(hWnd));
        return 0;
    }
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

} // namespace winplat::ui

WINPLAT_API void InitCommonControls(void) {}

WINPLAT_API BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    return picce && picce->dwSize == sizeof(INITCOMMONCONTROLSEX);
}
