// The window manager on its own: templates and dialog units, the message loop, each
// control as the operator drives it, message boxes, modal and modeless dialogs, focus,
// and nothing left behind.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/afxdlg.h>
#include <winplat/commctrl.h>
#include <winplat/resource.h>
#include <winplat/ui_operator.h>
#include <winplat/winbase.h>
#include <winplat/winuser.h>

namespace ui = winplat::ui;

namespace {

HINSTANCE Self() {
    static int marker;
    return WinplatModuleFromAddress(&marker);
}

// Plays steps when the loop is idle and writes down what the operator sees.
class Operator : public ui::Observer {
public:
    Operator() { m_previous = ui::SetObserver(this); }
    ~Operator() override {
        ui::SetObserver(m_previous);
        ui::HoldKeys(false, false);
    }
    void Then(std::function<void()> step) { m_steps.push_back(std::move(step)); }

    std::vector<std::string> events;

    void OnOpen(HWND, UINT id, const std::string& title) override {
        events.push_back("open " + std::to_string(id) + " " + title);
    }
    void OnTitle(HWND, UINT id, const std::string& title) override {
        events.push_back("title " + std::to_string(id) + " " + title);
    }
    void OnBox(const std::string& caption, const std::string& text, UINT) override {
        events.push_back("box " + caption + "|" + text);
    }
    void OnFocus(HWND, int id) override { events.push_back("focus " + std::to_string(id)); }
    void OnClose(HWND, UINT id, INT_PTR result) override {
        events.push_back("close " + std::to_string(id) + " " + std::to_string(result));
    }
    bool OnIdle() override {
        if (m_next < m_steps.size()) {
            m_steps[m_next++]();
            return true;
        }
        // Out of steps: walk away from whatever is open.
        if (ui::CurrentBox(nullptr)) {
            ui::BoxState box;
            ui::CurrentBox(&box);
            ui::Answer(ui::DefaultAnswer(box.type));
            return true;
        }
        std::vector<HWND> open = ui::OpenWindows();
        if (open.empty())
            return false;
        PostMessageA(open.back(), WM_COMMAND, IDCANCEL, 0);
        return true;
    }

private:
    std::vector<std::function<void()>> m_steps;
    size_t m_next = 0;
    ui::Observer* m_previous = nullptr;
};

// A dialog procedure made of a lambda, with what it was told.
struct TestDialog {
    std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handler;
    std::vector<std::string> commands; // "id code" of each WM_COMMAND
    std::vector<std::string> notes;    // WM_NOTIFY and WM_HSCROLL
    HWND hWnd = nullptr;

    static INT_PTR Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TestDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
        if (msg == WM_INITDIALOG) {
            self = reinterpret_cast<TestDialog*>(lParam);
            SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
            self->hWnd = hWnd;
        }
        if (!self)
            return FALSE;
        if (msg == WM_COMMAND)
            self->commands.push_back(std::to_string(LOWORD(wParam)) + " " +
                                     std::to_string(HIWORD(wParam)));
        if (msg == WM_NOTIFY) {
            auto* hdr = reinterpret_cast<NMHDR*>(lParam);
            std::string note = "notify " + std::to_string(hdr->idFrom) + " " +
                               std::to_string(static_cast<int>(hdr->code));
            if (hdr->code == NM_CLICK) {
                // Where the mouse was, hit-tested in the list as a picker does it.
                DWORD pos = GetMessagePos();
                LVHITTESTINFO hit{};
                hit.pt = POINT{GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
                MapWindowPoints(nullptr, hdr->hwndFrom, &hit.pt, 1);
                SendMessageA(hdr->hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
                note += " row " + std::to_string(hit.iItem);
            }
            self->notes.push_back(note);
        }
        if (msg == WM_HSCROLL)
            self->notes.push_back("scroll " + std::to_string(LOWORD(wParam)) + " " +
                                  std::to_string(static_cast<short>(HIWORD(wParam))));
        if (self->handler)
            if (INT_PTR r = self->handler(hWnd, msg, wParam, lParam))
                return r;
        if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            EndDialog(hWnd, LOWORD(wParam));
            return TRUE;
        }
        return msg == WM_INITDIALOG;
    }

    INT_PTR Run(HWND parent = nullptr, UINT id = 100) {
        return DialogBoxParamA(Self(), MAKEINTRESOURCEA(id), parent, Proc,
                               reinterpret_cast<LPARAM>(this));
    }
};

std::string Text(HWND hDlg, int id) {
    char buffer[4096] = {};
    GetDlgItemTextA(hDlg, id, buffer, sizeof buffer);
    return buffer;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { m_windowsBefore = ui::WindowCount(); }
    void TearDown() override {
        // Nothing left behind: no window, no message.
        EXPECT_EQ(ui::WindowCount(), m_windowsBefore);
        EXPECT_EQ(ui::QueuedMessageCount(), 0u);
    }
    size_t m_windowsBefore = 0;
};

TEST_F(WindowTest, TemplateLaidOutInDialogUnitsOfItsFont) {
    Operator op;
    TestDialog dlg;
    RECT client{}, edit{}, modelessClient{};
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG)
            return 0;
        GetClientRect(hWnd, &client);
        GetWindowRect(GetDlgItem(hWnd, 10), &edit);
        POINT origin{0, 0};
        ClientToScreen(hWnd, &origin);
        edit = RECT{edit.left - origin.x, edit.top - origin.y, edit.right - origin.x,
                    edit.bottom - origin.y};
        // A template with another font gets that font's units.
        HWND hModeless = CreateDialogParamA(Self(), MAKEINTRESOURCEA(102), hWnd, nullptr, 0);
        GetClientRect(hModeless, &modelessClient);
        DestroyWindow(hModeless);
        return TRUE;
    };
    EXPECT_EQ(dlg.Run(), IDCANCEL);
    // MS Sans Serif 8: 6 pixels across and 13 down per 4 and 8 units.
    EXPECT_EQ(client.right, 200 * 6 / 4);
    EXPECT_EQ(client.bottom, 160 * 13 / 8);
    EXPECT_EQ(edit.left, 50 * 6 / 4);
    EXPECT_EQ(edit.top, 4 * 13 / 8);
    EXPECT_EQ(edit.right - edit.left, 100 * 6 / 4);
    EXPECT_EQ(edit.bottom - edit.top, 14 * 13 / 8);
    EXPECT_EQ(modelessClient.right, 120 * 8 / 4); // Arial 10: 8 by 16
    EXPECT_EQ(modelessClient.bottom, 50 * 16 / 8);
}

TEST_F(WindowTest, OpeningShowsTitleAndFocusOnTheFirstTabStopThenTabOrderFollowsTheTemplate) {
    Operator op;
    TestDialog dlg;
    std::vector<int> order;
    op.Then([&] {
        HWND h = GetFocus();
        for (int i = 0; i < 11; ++i) {
            order.push_back(GetDlgCtrlID(h));
            h = GetNextDlgTabItem(dlg.hWnd, h, FALSE);
        }
        EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(dlg.hWnd, GetDlgItem(dlg.hWnd, 10), TRUE)),
                  IDCANCEL);
    });
    dlg.Run();
    // The static has no tab stop, nor has edit 18; after Cancel the order starts over.
    EXPECT_EQ(order, (std::vector<int>{10, 11, 12, 13, 14, 15, 16, 17, IDOK, IDCANCEL, 10}));
    ASSERT_GE(op.events.size(), 2u);
    EXPECT_EQ(op.events[0], "open 100 Toolkit Test");
    EXPECT_EQ(op.events[1], "focus 10");
    EXPECT_EQ(op.events.back(), "close 100 2");
}

TEST_F(WindowTest, TypingReplacesTheTextWithAChangeNotificationPerCharacter) {
    struct Case {
        int id;
        std::string typed;
        std::string shown;
        size_t changes;
    };
    const Case cases[] = {
        {10, "abc", "abc", 3},
        {10, "", "", 1},                     // clearing is one change
        {11, "12a-3", "123", 3},             // digits only
        {12, "one\ntwo", "one\r\ntwo", 7},   // a line break in a multi-line edit
        {10, "one\ntwo", "onetwo", 6},       // not taken by a single-line one
        {10, "%&+\"<\xE9", "%&+\"<\xE9", 6}, // every character as typed
    };
    for (const Case& c : cases) {
        Operator op;
        TestDialog dlg;
        dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
            if (msg == WM_INITDIALOG)
                SetDlgItemTextA(hWnd, c.id, "old");
            return 0;
        };
        std::string shown;
        op.Then([&] { EXPECT_EQ(ui::Type(dlg.hWnd, c.id, c.typed), ""); });
        op.Then([&] { shown = Text(dlg.hWnd, c.id); });
        dlg.Run();
        EXPECT_EQ(shown, c.shown) << c.typed;
        size_t changes = 0;
        for (size_t i = 0; i < dlg.commands.size(); ++i)
            changes += dlg.commands[i] == std::to_string(c.id) + " " + std::to_string(EN_CHANGE);
        EXPECT_EQ(changes, c.changes + 1) << c.typed; // and one for the text set at opening
    }
}

TEST_F(WindowTest, TypingStopsAtTheLimitAndPastingSkipsTheDigitsFilter) {
    Operator op;
    TestDialog dlg;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            SendDlgItemMessageA(hWnd, 10, EM_SETLIMITTEXT, 4, 0);
        return 0;
    };
    std::string limited, pasted;
    op.Then([&] { ui::Type(dlg.hWnd, 10, "abcdefgh"); });
    op.Then([&] { ui::Paste(dlg.hWnd, 11, "-5"); });
    op.Then([&] {
        limited = Text(dlg.hWnd, 10);
        pasted = Text(dlg.hWnd, 11);
    });
    dlg.Run();
    EXPECT_EQ(limited, "abcd");
    EXPECT_EQ(pasted, "-5");
    EXPECT_NE(
        std::find(dlg.commands.begin(), dlg.commands.end(), "10 " + std::to_string(EN_MAXTEXT)),
        dlg.commands.end());
}

TEST_F(WindowTest, GetDlgItemIntReadsWholeNumbersOnly) {
    struct Case {
        const char* text;
        BOOL bSigned;
        BOOL translated;
        int value;
    };
    const Case cases[] = {
        {"514", TRUE, TRUE, 514},        {"  -12 ", TRUE, TRUE, -12},
        {"-12", FALSE, FALSE, 0},        {"", TRUE, FALSE, 0},
        {"12ab", TRUE, FALSE, 0},        {"2147483648", TRUE, FALSE, 0},
        {"4294967295", FALSE, TRUE, -1}, {"+7", TRUE, TRUE, 7},
    };
    Operator op;
    TestDialog dlg;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG)
            return 0;
        for (const Case& c : cases) {
            SetDlgItemTextA(hWnd, 10, c.text);
            BOOL translated = -1;
            int value = static_cast<int>(GetDlgItemInt(hWnd, 10, &translated, c.bSigned));
            EXPECT_EQ(translated, c.translated) << c.text;
            EXPECT_EQ(value, c.value) << c.text;
        }
        SetDlgItemInt(hWnd, 10, static_cast<UINT>(-3), TRUE);
        EXPECT_EQ(Text(hWnd, 10), "-3");
        return 0;
    };
    dlg.Run();
}

TEST_F(WindowTest, ButtonsCheckBoxesAndTheKeyboardInterface) {
    Operator op;
    TestDialog dlg;
    UINT checked = 0;
    op.Then([&] { ui::Click(dlg.hWnd, 13); });
    op.Then([&] {
        checked = IsDlgButtonChecked(dlg.hWnd, 13);
        // Enter presses the default button, wherever the focus is.
        PostMessageA(GetDlgItem(dlg.hWnd, 10), WM_KEYDOWN, VK_RETURN, 0);
    });
    EXPECT_EQ(dlg.Run(), IDOK);
    EXPECT_EQ(checked, static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(dlg.commands[0], "13 0");
    EXPECT_EQ(dlg.commands[1], "1 0");

    Operator op2;
    TestDialog dlg2;
    op2.Then([&] { PostMessageA(GetDlgItem(dlg2.hWnd, 10), WM_KEYDOWN, VK_ESCAPE, 0); });
    EXPECT_EQ(dlg2.Run(), IDCANCEL);
}

TEST_F(WindowTest, SortedListAndDropDownListPickAndFind) {
    Operator op;
    TestDialog dlg;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG)
            return 0;
        for (const char* name : {"beta", "ALPHA", "gamma", "Delta"}) {
            SendDlgItemMessageA(hWnd, 14, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
            SendDlgItemMessageA(hWnd, 15, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        }
        EXPECT_EQ(SendDlgItemMessageA(hWnd, 15, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>("ga")),
                  3);
        EXPECT_EQ(Text(hWnd, 15), "gamma");
        EXPECT_EQ(SendDlgItemMessageA(hWnd, 14, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>("DELTA")),
                  2);
        return 0;
    };
    std::vector<ui::ControlState> seen;
    op.Then([&] {
        EXPECT_NE(ui::Pick(dlg.hWnd, 14, "Epsilon"), "");
        EXPECT_EQ(ui::Pick(dlg.hWnd, 14, "beta"), "");
        EXPECT_EQ(ui::Pick(dlg.hWnd, 15, "Delta"), "");
    });
    op.Then([&] { seen = ui::Controls(dlg.hWnd); });
    dlg.Run();
    auto control = [&](int id) {
        for (const ui::ControlState& c : seen)
            if (c.id == id)
                return c;
        return ui::ControlState{};
    };
    EXPECT_EQ(control(14).items, (std::vector<std::string>{"ALPHA", "beta", "Delta", "gamma"}));
    EXPECT_EQ(control(14).selected, 1);
    EXPECT_EQ(control(15).text, "Delta");
    EXPECT_EQ(control(15).kind, "combo");
    EXPECT_NE(std::find(dlg.commands.begin(), dlg.commands.end(), "14 1"), dlg.commands.end());
    EXPECT_NE(std::find(dlg.commands.begin(), dlg.commands.end(), "15 1"), dlg.commands.end());
}

TEST_F(WindowTest, ListViewSortsRowsAndAClickHitsThePickedRowEvenScrolled) {
    Operator op;
    TestDialog dlg;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG)
            return 0;
        HWND list = GetDlgItem(hWnd, 17);
        for (int c = 0; c < 2; ++c) {
            LVCOLUMNA col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.cx = 120;
            col.pszText = const_cast<LPSTR>(c ? "Display Name" : "Name");
            SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
        }
        // Twenty rows in reverse: far more than the list shows at once.
        for (int i = 19; i >= 0; --i) {
            std::string name = "svc" + std::string(i < 10 ? "0" : "") + std::to_string(i);
            std::string display = "Service " + std::to_string(i);
            LVITEMA item{};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = 0;
            item.pszText = name.data();
            item.lParam = i;
            int row = static_cast<int>(
                SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
            item.iItem = row;
            item.iSubItem = 1;
            item.pszText = display.data();
            SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        }
        return 0;
    };
    std::vector<ui::ControlState> seen;
    op.Then([&] { EXPECT_EQ(ui::Pick(dlg.hWnd, 17, "svc17"), ""); });
    op.Then([&] { EXPECT_EQ(ui::Key(dlg.hWnd, 17, VK_DOWN), ""); });
    op.Then([&] { seen = ui::Controls(dlg.hWnd); });
    dlg.Run();
    const ui::ControlState* list = nullptr;
    for (const ui::ControlState& c : seen)
        if (c.id == 17)
            list = &c;
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->items.size(), 20u);
    EXPECT_EQ(list->items[0], "svc00\tService 0");
    EXPECT_EQ(list->items[17], "svc17\tService 17");
    EXPECT_EQ(list->selected, 18); // moved down by the keyboard
    // The click selected row 17 and was hit-tested there; the arrow key only changed it.
    std::string click = "notify 17 " + std::to_string(static_cast<int>(NM_CLICK)) + " row 17";
    EXPECT_EQ(std::count(dlg.notes.begin(), dlg.notes.end(), click), 1);
    EXPECT_EQ(
        std::count_if(dlg.notes.begin(), dlg.notes.end(),
                      [](const std::string& n) { return n.find(" row ") != std::string::npos; }),
        1);
}

TEST_F(WindowTest, SliderKeepsItsRangeAndTellsTheParentEveryMove) {
    Operator op;
    TestDialog dlg;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            SendDlgItemMessageA(hWnd, 16, TBM_SETRANGEMIN, FALSE, -10);
            SendDlgItemMessageA(hWnd, 16, TBM_SETRANGEMAX, TRUE, 10);
        }
        return 0;
    };
    int pos = 0;
    op.Then([&] { ui::Slide(dlg.hWnd, 16, 25); });
    op.Then([&] { pos = static_cast<int>(SendDlgItemMessageA(dlg.hWnd, 16, TBM_GETPOS, 0, 0)); });
    dlg.Run();
    EXPECT_EQ(pos, 10);
    EXPECT_EQ(dlg.notes, (std::vector<std::string>{"scroll 5 10", "scroll 4 10", "scroll 8 0"}));
}

TEST_F(WindowTest, AMessageBoxWaitsForTheOperatorAndTheFocusIsToldAfterItsHandler) {
    Operator op;
    TestDialog dlg;
    int answer = 0;
    BOOL ownerEnabledDuringBox = TRUE;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (msg == WM_COMMAND && LOWORD(wParam) == IDOK) {
            answer = MessageBoxA(hWnd, "Sure?", "Question", MB_YESNO | MB_ICONQUESTION);
            SetFocus(GetDlgItem(hWnd, 11));
            return TRUE; // stays open
        }
        return 0;
    };
    op.Then([&] { ui::Click(dlg.hWnd, IDOK); });
    op.Then([&] {
        ownerEnabledDuringBox = IsWindowEnabled(dlg.hWnd);
        EXPECT_NE(ui::Answer(IDOK), ""); // a Yes/No box has no OK
        EXPECT_EQ(ui::Answer(IDNO), "");
    });
    dlg.Run();
    EXPECT_EQ(answer, IDNO);
    EXPECT_FALSE(ownerEnabledDuringBox);
    EXPECT_EQ(op.events,
              (std::vector<std::string>{"open 100 Toolkit Test", "focus 10", "box Question|Sure?",
                                        "focus 11", "close 100 2"}));
}

TEST_F(WindowTest, AModalDialogOverAnotherDisablesItAndGivesTheFocusBack) {
    Operator op;
    TestDialog outer, inner;
    BOOL outerEnabled = TRUE;
    outer.handler = [&](HWND hWnd, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (msg == WM_COMMAND && LOWORD(wParam) == 13) {
            inner.Run(hWnd);
            return TRUE;
        }
        return 0;
    };
    op.Then([&] { ui::Click(outer.hWnd, 13); });
    op.Then([&] {
        outerEnabled = IsWindowEnabled(outer.hWnd);
        EXPECT_NE(ui::Click(outer.hWnd, IDOK), ""); // no input behind a modal dialog
        ui::Click(inner.hWnd, IDOK);
    });
    int focusAfter = 0;
    op.Then([&] { focusAfter = GetDlgCtrlID(GetFocus()); });
    outer.Run();
    EXPECT_FALSE(outerEnabled);
    EXPECT_EQ(focusAfter, 13);
    EXPECT_EQ(op.events[2], "open 100 Toolkit Test");
    EXPECT_EQ(op.events[4], "close 100 1");
}

TEST_F(WindowTest, ADialogEndedWhileItInitialisesIsNeverShown) {
    Operator op;
    TestDialog dlg;
    dlg.handler = [&](HWND hWnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            EndDialog(hWnd, 7);
        return 0;
    };
    EXPECT_EQ(dlg.Run(), 7);
    EXPECT_EQ(op.events, (std::vector<std::string>{"close 100 7"}));
}

TEST_F(WindowTest, ModelessPagesAndPopUpsLiveInTheCallersLoopAndGoWithTheirOwner) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "TestHostWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND host = CreateWindowExA(0, "TestHostWindow", "Host", WS_OVERLAPPED | WS_VISIBLE, 10, 10,
                                400, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    static int destroyed = 0;
    destroyed = 0;
    auto proc = [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        destroyed += msg == WM_NCDESTROY;
        return msg == WM_INITDIALOG;
    };
    HWND page = CreateDialogParamA(Self(), MAKEINTRESOURCEA(101), host, proc, 0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(GetParent(page), host);
    EXPECT_TRUE(IsWindowVisible(page));
    SetWindowPos(page, nullptr, 8, 9, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    POINT pt{0, 0};
    MapWindowPoints(page, host, &pt, 1);
    EXPECT_EQ(pt.x, 8);
    EXPECT_EQ(pt.y, 9);

    HWND popup1 = CreateDialogParamA(Self(), MAKEINTRESOURCEA(102), page, proc, 0);
    HWND popup2 = CreateDialogParamA(Self(), MAKEINTRESOURCEA(102), page, proc, 0);
    ASSERT_TRUE(popup1 && popup2);
    EXPECT_EQ(ui::OpenWindows(), (std::vector<HWND>{popup1, popup2}));
    EndDialog(popup1, 1); // hidden, not gone
    EXPECT_TRUE(IsWindow(popup1));
    EXPECT_EQ(ui::OpenWindows(), (std::vector<HWND>{popup2}));
    PostMessageA(popup2, WM_USER + 3, 0, 0);
    EXPECT_EQ(ui::QueuedMessageCount(), 1u);

    // The host window takes its page and the page's pop-ups with it, and their messages.
    DestroyWindow(host);
    EXPECT_FALSE(IsWindow(page));
    EXPECT_FALSE(IsWindow(popup1));
    EXPECT_FALSE(IsWindow(popup2));
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(ui::QueuedMessageCount(), 0u);
    EXPECT_TRUE(UnregisterClassA("TestHostWindow", nullptr));
}

TEST_F(WindowTest, AQuitMessageEndsAModalLoopAndIsPostedAgain) {
    Operator op;
    TestDialog dlg;
    op.Then([&] { PostQuitMessage(3); });
    dlg.Run();
    MSG msg{};
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(WindowTest, KeysHeldByTheOperator) {
    ui::HoldKeys(true, false);
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    EXPECT_GE(GetKeyState(VK_CONTROL), 0);
    ui::HoldKeys(false, false);
    EXPECT_GE(GetKeyState(VK_SHIFT), 0);
}

// The framework: data exchange with the integer prompt, stopping at the field at fault.
class NumberDialog : public afx::CDialog {
public:
    NumberDialog() : afx::CDialog(100) {}
    std::string m_strName = "start";
    int m_nValue = 5;
    std::string m_strAfter = "after";

protected:
    void DoDataExchange(afx::CDataExchange* pDX) override {
        afx::DDX_Text(pDX, 10, m_strName);
        afx::DDX_Text(pDX, 11, m_nValue);
        afx::DDX_Text(pDX, 12, m_strAfter);
    }
};

TEST_F(WindowTest, DataExchangeStopsAtAFieldWithoutAWholeNumberAfterThePrompt) {
    afx::CModuleState state(Self());
    Operator op;
    NumberDialog dlg;
    op.Then([&] {
        ui::Type(dlg.m_hWnd, 10, "changed");
        ui::Paste(dlg.m_hWnd, 11, "1x");
        ui::Type(dlg.m_hWnd, 12, "later");
    });
    op.Then([&] { ui::Click(dlg.m_hWnd, IDOK); });
    op.Then([&] { ui::Answer(IDOK); });
    op.Then([&] { ui::Paste(dlg.m_hWnd, 11, " -42 "); });
    op.Then([&] { ui::Click(dlg.m_hWnd, IDOK); });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_strName, "changed");
    EXPECT_EQ(dlg.m_nValue, -42);
    EXPECT_EQ(dlg.m_strAfter, "later");
    std::string caption = afx::AfxGetAppName();
    EXPECT_EQ(op.events[2], "box " + caption + "|Please enter an integer.");
    EXPECT_EQ(op.events[3], "focus 11"); // back on the field at fault
}

// A drop-down list's text: the first entry it begins (any case); a text no entry begins
// keeps the entry shown.
class CommandDialog : public afx::CDialog {
public:
    CommandDialog() : afx::CDialog(100) {}
    std::string m_strCommand;

protected:
    BOOL OnInitDialog() override {
        for (const char* entry : {"Stop", "Start"})
            SendDlgItemMessageA(m_hWnd, 15, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
        SendDlgItemMessageA(m_hWnd, 15, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>("Start"));
        return afx::CDialog::OnInitDialog();
    }
    void DoDataExchange(afx::CDataExchange* pDX) override {
        afx::DDX_CBString(pDX, 15, m_strCommand);
    }
};

TEST_F(WindowTest, ADropDownListShowsTheFirstEntryTheTextBeginsAndKeepsItsEntryOtherwise) {
    afx::CModuleState state(Self());
    const std::pair<const char*, const char*> cases[] = {
        {"stop", "Stop"}, {"ST", "Start"}, {"Sto", "Stop"}, {"Restart", "Start"}, {"", "Start"}};
    for (const auto& [command, shown] : cases) {
        Operator op;
        CommandDialog dlg;
        dlg.m_strCommand = command;
        op.Then([&] { ui::Click(dlg.m_hWnd, IDOK); });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.m_strCommand, shown) << command;
    }
}

} // namespace
