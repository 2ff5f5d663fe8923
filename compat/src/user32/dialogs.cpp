// Dialogs: windows made from templates, their procedure, the modal loop,
// focus and the dialog keys, and the icons a dialog keeps.
#include "user32/dialog.h"

#include <strings.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "display/display.h"
#include "user32/queue.h"

namespace compat {

namespace {

void restore_focus(HWND dlg, HWND saved);

struct DialogState final : Control {
    DLGPROC proc = nullptr;
    bool ended = false;     // the dialog's own thread only
    INT_PTR result = -1;
    HICON icons[2] = {nullptr, nullptr};
    HWND saved_focus = nullptr;  // its control that had the focus last; own thread only

    LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) override {
        if (proc && msg != WM_CREATE && proc(w.handle, msg, wp, lp)) return TRUE;
        switch (msg) {
        case WM_CLOSE:
            PostMessageA(w.handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
            return 0;
        case WM_ACTIVATE:
            // Made the active window again (a display back end says so):
            // the focus goes back to the control that had it.
            if (LOWORD(wp) != WA_INACTIVE) restore_focus(w.handle, saved_focus);
            return 0;
        case WM_SETICON: {
            int which = wp == ICON_BIG ? 1 : 0;
            HICON old = icons[which];
            icons[which] = reinterpret_cast<HICON>(lp);
            return reinterpret_cast<LRESULT>(old);
        }
        case DM_GETDEFID:
            return 0;
        default:
            return def_window_proc(w, msg, wp, lp);
        }
    }
};

thread_local HWND focus_window = nullptr;

// Every thread's focus, for the display back ends, which draw it and send
// keystrokes to it from threads of their own.
std::mutex &focus_mutex() {
    static auto *m = new std::mutex();
    return *m;
}
std::map<DWORD, HWND> &focus_table() {
    static auto *t = new std::map<DWORD, HWND>();
    return *t;
}

void publish_focus(HWND h) {
    std::lock_guard<std::mutex> lock(focus_mutex());
    if (h)
        focus_table()[GetCurrentThreadId()] = h;
    else
        focus_table().erase(GetCurrentThreadId());
}

DialogState *dialog_state(HWND h) {
    auto w = find_window(h);
    return w ? dynamic_cast<DialogState *>(w->control.get()) : nullptr;
}

DWORD style_of(HWND h) { return static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE)); }

bool class_is(HWND h, const char *name) {
    char cls[32] = "";
    GetClassNameA(h, cls, sizeof cls);
    return strcasecmp(cls, name) == 0;
}

// The controls Tab can reach, in tab order.
std::vector<HWND> tab_stops(HWND dlg) {
    std::vector<HWND> out;
    for (HWND c : child_handles(dlg)) {
        DWORD s = style_of(c);
        if ((s & WS_TABSTOP) && (s & WS_VISIBLE) && !(s & WS_DISABLED)) out.push_back(c);
    }
    return out;
}

bool is_child_of(HWND child, HWND dlg) {
    return child && IsWindow(child) && (style_of(child) & WS_CHILD) && GetParent(child) == dlg;
}

void restore_focus(HWND dlg, HWND saved) {
    HWND now = GetFocus();
    if (now && (now == dlg || is_child_of(now, dlg))) return;
    if (is_child_of(saved, dlg) && takes_input(saved) && (style_of(saved) & WS_VISIBLE)) {
        SetFocus(saved);
        return;
    }
    std::vector<HWND> stops = tab_stops(dlg);
    if (!stops.empty()) SetFocus(stops.front());
}

void move_focus(HWND dlg, bool backwards) {
    std::vector<HWND> stops = tab_stops(dlg);
    if (stops.empty()) return;
    HWND now = GetFocus();
    size_t i = 0;
    for (; i < stops.size() && stops[i] != now; ++i) {
    }
    size_t n = stops.size();
    size_t next = i == n ? (backwards ? n - 1 : 0) : (backwards ? (i + n - 1) % n : (i + 1) % n);
    SetFocus(stops[next]);
}

HWND default_button(HWND dlg) {
    for (HWND c : child_handles(dlg))
        if (class_is(c, "Button") && (style_of(c) & 0xF) == BS_DEFPUSHBUTTON) return c;
    return nullptr;
}

bool wants_return(HWND h) {
    const DWORD s = style_of(h);
    return h && class_is(h, "Edit") && (s & ES_MULTILINE) && (s & ES_WANTRETURN);
}

void press_default(HWND dlg) {
    HWND focus = GetFocus();
    HWND button = focus && GetParent(focus) == dlg && class_is(focus, "Button") ? focus
                                                                                : default_button(dlg);
    if (button && takes_input(button))
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    else if (!button)
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// A key meant for the dialog itself. True when the dialog manager used it.
bool dialog_key(HWND dlg, const MSG &m) {
    switch (m.wParam) {
    case kVkTab: move_focus(dlg, key_down(kVkShift)); return true;
    case kVkReturn:
        if (wants_return(m.hwnd)) return false;
        press_default(dlg);
        return true;
    case kVkEscape:
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return true;
    case kVkApps:
    case kVkF10:
        if (m.wParam == kVkF10 && !key_down(kVkShift)) return false;
        SendMessageA(m.hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m.hwnd), MAKELPARAM(-1, -1));
        return true;
    default: return false;
    }
}

bool is_input(UINT msg) {
    return (msg >= WM_KEYDOWN && msg <= WM_CHAR) || (msg >= WM_LBUTTONDOWN && msg <= WM_RBUTTONUP);
}

HWND create_item(HWND dlg, const res::DialogItem &item) {
    const char *text = item.text.present && !item.text.is_ordinal ? item.text.text.c_str() : "";
    return CreateWindowExA(item.ex_style, item.class_name.c_str(), text, item.style | WS_CHILD,
                           item.x, item.y, item.cx, item.cy, dlg,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(item.id)), nullptr,
                           nullptr);
}

// Dialog units are kept as the window's rect; DS_CENTER centres the dialog
// on a 1024x768 screen.
CREATESTRUCTA dialog_create_struct(const res::DialogTemplate &t, HWND owner) {
    CREATESTRUCTA cs{};
    cs.hwndParent = owner;
    cs.style = static_cast<LONG>(t.style & ~static_cast<DWORD>(WS_VISIBLE));
    cs.lpszName = t.title.c_str();
    cs.lpszClass = "#32770";
    cs.x = t.x;
    cs.y = t.y;
    cs.cx = t.cx;
    cs.cy = t.cy;
    if (t.style & DS_CENTER) {
        cs.x = (1024 - t.cx) / 2;
        cs.y = (768 - t.cy) / 2;
    }
    return cs;
}

}  // namespace

bool takes_input(HWND h) {
    for (; h; h = GetParent(h)) {
        if (!IsWindow(h) || !IsWindowEnabled(h)) return false;
        if (!(style_of(h) & WS_CHILD)) break;
    }
    return true;
}

HWND top_level_of(HWND h) {
    while (h && (style_of(h) & WS_CHILD)) h = GetParent(h);
    return h;
}

HWND create_dialog(const res::DialogTemplate &t, HWND owner, DLGPROC proc, LPARAM param) {
    auto owned = std::make_unique<DialogState>();
    DialogState *state = owned.get();
    CREATESTRUCTA cs = dialog_create_struct(t, owner);
    HWND dlg = create_window(cs, find_class("#32770"), std::move(owned));
    if (!dlg) return nullptr;
    for (const res::DialogItem &item : t.items) {
        if (!create_item(dlg, item)) {
            DestroyWindow(dlg);
            return nullptr;
        }
    }
    state->proc = proc;
    std::vector<HWND> stops = tab_stops(dlg);
    HWND first = stops.empty() ? nullptr : stops.front();
    if (proc && proc(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && first &&
        IsWindow(first))
        SetFocus(first);
    if (IsWindow(dlg) && (t.style & WS_VISIBLE)) ShowWindow(dlg, SW_SHOW);
    return IsWindow(dlg) ? dlg : nullptr;
}

INT_PTR run_dialog(HWND dlg) {
    std::shared_ptr<Window> held = find_window(dlg);
    DialogState *state = held ? dynamic_cast<DialogState *>(held->control.get()) : nullptr;
    if (!state) return -1;
    MSG m;
    while (!state->ended && IsWindow(dlg)) {
        Got got = take_message(&m, nullptr, 0, 0, true, true, true);
        if (got == Got::Quit) {
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        if (got != Got::Message) continue;
        HWND top = top_level_of(m.hwnd);
        if (top && dialog_state(top) && IsDialogMessageA(top, &m)) continue;
        if (is_input(m.message) && m.hwnd && !takes_input(m.hwnd)) continue;
        DispatchMessageA(&m);
    }
    return state->ended ? state->result : -1;
}

}  // namespace compat

using namespace compat;

namespace {

const res::Entry *find_template(LPCSTR name, res::DialogTemplate *t) {
    const res::Entry *e = res::find_resource(res::kTypeDialog, name);
    if (!e || !res::parse_dialog(e->data, e->size, *t) || t->extended) return nullptr;
    return e;
}

}  // namespace

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
    res::DialogTemplate t;
    if (!find_template(name, &t)) {
        SetLastError(1814 /* ERROR_RESOURCE_NAME_NOT_FOUND */);
        return nullptr;
    }
    return create_dialog(t, parent, proc, param);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
    res::DialogTemplate t;
    if (!find_template(name, &t)) {
        SetLastError(1814 /* ERROR_RESOURCE_NAME_NOT_FOUND */);
        return -1;
    }
    t.style |= WS_VISIBLE;
    HWND owner = top_level_of(parent);
    bool disabled_owner = owner && IsWindowEnabled(owner);
    if (disabled_owner) EnableWindow(owner, FALSE);
    HWND dlg = create_dialog(t, parent, proc, param);
    INT_PTR result = dlg ? run_dialog(dlg) : -1;
    if (disabled_owner) EnableWindow(owner, TRUE);
    if (dlg && IsWindow(dlg)) DestroyWindow(dlg);
    return result;
}

BOOL WINAPI EndDialog(HWND dlg, INT_PTR result) {
    DialogState *state = dialog_state(dlg);
    if (!state) {
        SetLastError(1400 /* ERROR_INVALID_WINDOW_HANDLE */);
        return FALSE;
    }
    state->ended = true;
    state->result = result;
    ShowWindow(dlg, SW_HIDE);
    return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND dlg, LPMSG m) {
    if (!m || !dlg || !dialog_state(dlg)) return FALSE;
    if (m->hwnd != dlg && top_level_of(m->hwnd) != dlg) return FALSE;
    if (!is_input(m->message)) return FALSE;
    if (!takes_input(m->hwnd)) return TRUE;  // swallowed: a disabled window takes no input
    if (m->message == WM_KEYDOWN || m->message == WM_KEYUP) {
        if (m->wParam == kVkShift || m->wParam == kVkControl) return TRUE;
        if (m->message == WM_KEYDOWN && dialog_key(dlg, *m)) return TRUE;
    }
    if (m->message == WM_CHAR && (m->wParam == '\t' || m->wParam == 0x1B)) return TRUE;
    if (m->message == WM_CHAR && m->wParam == '\r' && !wants_return(m->hwnd)) return TRUE;
    DispatchMessageA(m);
    return TRUE;
}

HWND WINAPI GetFocus(void) {
    if (focus_window && !IsWindow(focus_window)) focus_window = nullptr;
    return focus_window;
}

HWND WINAPI SetFocus(HWND h) {
    HWND old = GetFocus();
    if (h && (!IsWindow(h) || GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId()))
        return nullptr;
    if (old == h) return old;
    focus_window = h;
    publish_focus(h);
    if (h)
        if (DialogState *state = dialog_state(top_level_of(h))) state->saved_focus = h;
    if (old) SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(h), 0);
    if (h) SendMessageA(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    display::changed(h ? h : old, display::Change::Focus);
    return old;
}

namespace compat {
namespace display {

HWND focus_of(DWORD thread_id) {
    HWND h;
    {
        std::lock_guard<std::mutex> lock(focus_mutex());
        auto it = focus_table().find(thread_id);
        if (it == focus_table().end()) return nullptr;
        h = it->second;
    }
    return IsWindow(h) ? h : nullptr;
}

}  // namespace display
}  // namespace compat

// An icon is the address of its group entry in the module's resources:
// the same for every load, and nothing to free.
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR name) {
    const res::Entry *e = res::find_resource(res::kTypeGroupIcon, name);
    if (!e) SetLastError(1813 /* ERROR_RESOURCE_TYPE_NOT_FOUND */);
    return reinterpret_cast<HICON>(const_cast<res::Entry *>(e));
}
