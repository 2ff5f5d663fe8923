// MessageBoxA: a "#32770" window with a STATIC child for the text and one
// button child per answer, run by its own modal loop on the calling thread,
// which also takes the box's keys.
// Pressing a button is WM_COMMAND(id) reaching the box, which a display
// back end or a test posts. With an owner, the owner is disabled while the
// box shows (and enabled again only if the box disabled it).
#include <compat_seams.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "display/display.h"
#include "user32/dialog.h"
#include "user32/queue.h"
#include "user32/window.h"

namespace compat {

namespace {

struct MessageBoxState final : Control {
    explicit MessageBoxState(UINT t) : type(t) {}

    // A button of the box was pressed, or Esc / the close box (IDCANCEL).
    void press(int id) {
        for (int b : buttons) {
            if (b == id) {
                result = id;
                ended = true;
                return;
            }
        }
        // A box with no Cancel button takes Esc only when OK is its one
        // button, and then means OK.
        if (id == IDCANCEL && buttons.size() == 1 && buttons[0] == IDOK) {
            result = IDOK;
            ended = true;
        }
    }

    LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) override {
        switch (msg) {
        case WM_COMMAND:
            press(LOWORD(wp));
            return 0;
        case WM_CLOSE:
            press(IDCANCEL);
            return 0;
        default:
            return def_window_proc(w, msg, wp, lp);
        }
    }

    const UINT type;
    std::vector<int> buttons;
    std::atomic<bool> shown{false};
    // The box's own thread only.
    bool ended = false;
    int result = 0;
};

std::vector<int> buttons_for(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
    }
}

// ASCII, so the same bytes in every code page.
const char *button_text(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    default: return "No";
    }
}

HWND create_child(HWND parent, const char *cls, const char *text, DWORD style, int id) {
    return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

// The box's keys, for keystrokes at the box or one of its buttons: Tab and
// the arrows move the focus between the buttons, Enter presses the focused
// one, Esc means Cancel; Space reaches the button, which it presses. True
// when the box used the message.
bool box_key(HWND box, MessageBoxState *state, const MSG &m) {
    if (m.message != WM_KEYDOWN && m.message != WM_KEYUP && m.message != WM_CHAR) return false;
    if (m.hwnd != box && GetParent(m.hwnd) != box) return false;
    if (m.wParam == kVkSpace && m.message != WM_CHAR) return false;
    if (m.message != WM_KEYDOWN) return true;
    std::vector<HWND> buttons;
    for (int id : state->buttons) buttons.push_back(GetDlgItem(box, id));
    size_t at = 0;
    while (at < buttons.size() && buttons[at] != GetFocus()) ++at;
    if (at == buttons.size()) at = 0;
    const size_t n = buttons.size();
    switch (m.wParam) {
    case kVkTab:
        SetFocus(buttons[key_down(kVkShift) ? (at + n - 1) % n : (at + 1) % n]);
        break;
    case kVkLeft:
    case kVkUp: SetFocus(buttons[(at + n - 1) % n]); break;
    case kVkRight:
    case kVkDown: SetFocus(buttons[(at + 1) % n]); break;
    case kVkReturn: state->press(state->buttons[at]); break;
    case kVkEscape: state->press(IDCANCEL); break;
    default: break;
    }
    return true;
}

// The box's modal loop: what the box's keys do not use is dispatched.
void run_box(HWND box, MessageBoxState *state) {
    MSG m;
    while (!state->ended && IsWindow(box)) {
        Got got = take_message(&m, nullptr, 0, 0, true, true, true);
        if (got == Got::Quit) {
            PostQuitMessage(static_cast<int>(m.wParam));
            return;
        }
        if (got == Got::Message && !box_key(box, state, m)) DispatchMessageA(&m);
    }
}

}  // namespace

}  // namespace compat

using namespace compat;

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner && !IsWindow(owner)) {
        SetLastError(1400 /* ERROR_INVALID_WINDOW_HANDLE */);
        return 0;
    }
    auto owned_state = std::make_unique<MessageBoxState>(type);
    MessageBoxState *state = owned_state.get();
    state->buttons = buttons_for(type);

    CREATESTRUCTA cs{};
    cs.hwndParent = owner;
    cs.style = static_cast<LONG>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    cs.lpszName = caption ? caption : "Error";
    cs.lpszClass = "#32770";
    HWND box = create_window(cs, find_class("#32770"), std::move(owned_state));
    if (!box) return 0;
    // Keeps the box's state alive even if something destroys the box.
    std::shared_ptr<Window> box_window = find_window(box);

    // However the box ends (a button, or this thread being stopped while it
    // waits), the owner gets its input back and the box disappears. Neither
    // step waits, so both are safe while the thread unwinds.
    struct Teardown {
        std::shared_ptr<Window> box;
        HWND disabled_owner = nullptr;
        ~Teardown() {
            if (disabled_owner) EnableWindow(disabled_owner, TRUE);
            destroy_window(box);
        }
    } teardown{box_window};

    create_child(box, "Static", text ? text : "", SS_LEFT, COMPAT_MESSAGE_BOX_TEXT_ID);
    bool first = true;
    for (int id : state->buttons) {
        create_child(box, "Button", button_text(id),
                     WS_TABSTOP | (first ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), id);
        first = false;
    }
    HWND top_owner = GetWindow(box, GW_OWNER);
    if (top_owner && IsWindowEnabled(top_owner)) {
        EnableWindow(top_owner, FALSE);
        teardown.disabled_owner = top_owner;
    }
    // The first button, the default one, has the focus; once the box is
    // gone the display back end activates a window again, which takes the
    // focus back.
    SetFocus(GetDlgItem(box, state->buttons.front()));
    ShowWindow(box, SW_SHOW);
    state->shown.store(true, std::memory_order_release);
    display::changed(box, display::Change::MessageBoxShown);

    // WM_QUIT ends the box with 0 and stays posted for the enclosing loop.
    run_box(box, state);
    return state->ended ? state->result : 0;
}

UINT CompatGetMessageBoxStyle(HWND box) {
    auto w = find_window(box);
    auto *state = w ? dynamic_cast<MessageBoxState *>(w->control.get()) : nullptr;
    if (!state || !state->shown.load(std::memory_order_acquire)) return COMPAT_NO_MESSAGE_BOX;
    return state->type;
}
