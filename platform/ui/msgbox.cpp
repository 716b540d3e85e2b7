// Message boxes: modal over their owner, answered by the operator.
#include <vector>

#include <winplat/winerror.h>

#include "ui_internal.h"

namespace winplat::ui {

namespace {

struct OpenBox {
    BoxState state;
    int answer = 0;
};

// Boxes open now, the newest last: a box shown while another waits is answered first.
std::vector<OpenBox*>& Boxes() {
    static std::vector<OpenBox*> boxes;
    return boxes;
}

std::vector<int> ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

} // namespace

std::string ButtonName(int button) {
    switch (button) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "Abort";
    case IDRETRY:
        return "Retry";
    case IDIGNORE:
        return "Ignore";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return std::to_string(button);
    }
}

int ButtonFromName(const std::string& name) {
    for (int b : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        if (CompareNoCase(ButtonName(b), name) == 0)
            return b;
    return 0;
}

int DefaultAnswer(UINT type) {
    std::vector<int> buttons = ButtonsOf(type);
    size_t which = (type & MB_DEFBUTTON2) && buttons.size() > 1 ? 1 : 0;
    return buttons[which];
}

bool CurrentBox(BoxState* pBox) {
    if (Boxes().empty())
        return false;
    if (pBox)
        *pBox = Boxes().back()->state;
    return true;
}

std::string Answer(int button) {
    if (Boxes().empty())
        return "no message box is open";
    OpenBox* box = Boxes().back();
    for (int b : ButtonsOf(box->state.type))
        if (b == button) {
            box->answer = button;
            return {};
        }
    return "the message box has no " + ButtonName(button) + " button";
}

} // namespace winplat::ui

using namespace winplat::ui;

WINPLAT_API int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    OpenBox box;
    box.state.caption = lpCaption ? lpCaption : "Error";
    box.state.text = lpText ? lpText : "";
    box.state.type = uType;
    for (int b : ButtonsOf(uType))
        box.state.buttons.push_back(ButtonName(b));

    HWND owner = TopLevelOf(hWnd);
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    HWND previousFocus = GetFocus();
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    Boxes().push_back(&box);
    if (Observer* observer = CurrentObserver())
        observer->OnBox(box.state.caption, box.state.text, uType);

    bool quit = !RunModalLoop(nullptr, [&] { return box.answer != 0; });
    Boxes().pop_back();
    if (ownerWasEnabled && IsWindow(owner))
        EnableWindow(owner, TRUE);
    // The focus goes back where it was; the operator hears where it is once the code
    // that showed the box has done with it.
    if (previousFocus && IsWindow(previousFocus))
        SetFocusQuiet(previousFocus);
    ExpectFocusReport();
    return quit ? DefaultAnswer(uType) : box.answer;
}
