// Menus: trees loaded from menu templates, named by HMENU tokens, and the
// pop-up that TrackPopupMenu shows as a "#32768" window. A display back end
// reads the pop-up's lines with display::read_menu and posts
// display::kMenuChoose to it (see display.h).
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "display/display.h"
#include "resources/resource_file.h"
#include "user32/dialog.h"
#include "user32/queue.h"
#include "user32/window.h"

namespace compat {

namespace {

constexpr WORD kMfPopup = 0x10;

struct Menu {
    std::vector<res::MenuItem> items;   // this level; popups' items live in their own Menu
    std::vector<HMENU> submenus;        // per item: its popup, or null
};

std::mutex &menu_mutex() {
    static auto *m = new std::mutex();
    return *m;
}
std::map<uintptr_t, std::shared_ptr<Menu>> &menus() {
    static auto *m = new std::map<uintptr_t, std::shared_ptr<Menu>>();
    return *m;
}
uintptr_t next_menu = 0x50000;

// Under menu_mutex().
HMENU add_menu(const std::vector<res::MenuItem> &items) {
    auto m = std::make_shared<Menu>();
    HMENU h = reinterpret_cast<HMENU>(next_menu);
    next_menu += 2;
    menus()[reinterpret_cast<uintptr_t>(h)] = m;
    for (const res::MenuItem &item : items) {
        res::MenuItem flat = item;
        flat.children.clear();
        m->items.push_back(flat);
        m->submenus.push_back((item.flags & kMfPopup) ? add_menu(item.children) : nullptr);
    }
    return h;
}

void remove_menu(HMENU h) {
    auto it = menus().find(reinterpret_cast<uintptr_t>(h));
    if (it == menus().end()) return;
    std::shared_ptr<Menu> m = it->second;
    menus().erase(it);
    for (HMENU sub : m->submenus)
        if (sub) remove_menu(sub);
}

std::shared_ptr<Menu> find_menu(HMENU h) {
    std::lock_guard<std::mutex> lock(menu_mutex());
    auto it = menus().find(reinterpret_cast<uintptr_t>(h));
    return it == menus().end() ? nullptr : it->second;
}

// The pop-up window: its lines, and what happened to it.
struct PopupState final : Control {
    std::vector<display::MenuLine> lines;  // fixed before the window is made
    bool done = false;                     // the pop-up's thread only
    UINT chosen = 0;

    LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == display::kMenuChoose) {
            done = true;
            if (wp < lines.size() && !lines[wp].popup) chosen = lines[wp].id;
            return 0;
        }
        if (msg == WM_KEYDOWN && wp == kVkEscape) {
            done = true;
            return 0;
        }
        return def_window_proc(w, msg, wp, lp);
    }
};

bool is_click(UINT msg) {
    return msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_LBUTTONUP ||
           msg == WM_RBUTTONUP;
}

// Runs the pop-up's loop; a click in another window cancels it.
void run_popup(HWND popup, PopupState *state) {
    MSG m;
    while (!state->done && IsWindow(popup)) {
        Got got = take_message(&m, nullptr, 0, 0, true, true, true);
        if (got == Got::Quit) {
            PostQuitMessage(static_cast<int>(m.wParam));
            return;
        }
        if (got != Got::Message) continue;
        if (m.hwnd != popup && is_click(m.message)) {
            state->done = true;
            return;
        }
        DispatchMessageA(&m);
    }
}

}  // namespace

namespace display {

bool read_menu(HWND popup, std::vector<MenuLine> *lines) {
    auto w = find_window(popup);
    auto *state = w ? dynamic_cast<PopupState *>(w->control.get()) : nullptr;
    if (!state || !lines) return false;
    *lines = state->lines;
    return true;
}

}  // namespace display

}  // namespace compat

using namespace compat;

HMENU WINAPI LoadMenuA(HINSTANCE, LPCSTR name) {
    const res::Entry *e = res::find_resource(res::kTypeMenu, name);
    std::vector<res::MenuItem> items;
    if (!e || !res::parse_menu(e->data, e->size, items)) {
        SetLastError(1814 /* ERROR_RESOURCE_NAME_NOT_FOUND */);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(menu_mutex());
    return add_menu(items);
}

HMENU WINAPI GetSubMenu(HMENU menu, int pos) {
    auto m = find_menu(menu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->submenus.size()) return nullptr;
    return m->submenus[static_cast<size_t>(pos)];
}

BOOL WINAPI DestroyMenu(HMENU menu) {
    std::lock_guard<std::mutex> lock(menu_mutex());
    if (!menus().count(reinterpret_cast<uintptr_t>(menu))) return FALSE;
    remove_menu(menu);
    return TRUE;
}

int WINAPI GetMenuItemCount(HMENU menu) {
    auto m = find_menu(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WINAPI GetMenuItemID(HMENU menu, int pos) {
    auto m = find_menu(menu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size()) return 0xFFFFFFFFu;
    if (m->submenus[static_cast<size_t>(pos)]) return 0xFFFFFFFFu;
    return m->items[static_cast<size_t>(pos)].id;
}

int WINAPI GetMenuStringA(HMENU menu, UINT item, LPSTR out, int size, UINT flags) {
    auto m = find_menu(menu);
    if (!m) return 0;
    const res::MenuItem *found = nullptr;
    for (size_t i = 0; i < m->items.size() && !found; ++i) {
        bool hit = (flags & MF_BYPOSITION) ? i == item : (!m->submenus[i] && m->items[i].id == item);
        if (hit) found = &m->items[i];
    }
    if (!found) return 0;
    int n = static_cast<int>(found->text.size());
    if (!out || size <= 0) return n;
    if (n > size - 1) n = size - 1;
    found->text.copy(out, static_cast<size_t>(n));
    out[n] = '\0';
    return n;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT *) {
    auto m = find_menu(menu);
    if (!m || !IsWindow(owner)) return FALSE;
    auto owned = std::make_unique<PopupState>();
    PopupState *state = owned.get();
    for (size_t i = 0; i < m->items.size(); ++i)
        state->lines.push_back({m->items[i].text, m->items[i].id, m->submenus[i] != nullptr});
    CREATESTRUCTA cs{};
    cs.hwndParent = owner;
    cs.style = static_cast<LONG>(WS_POPUP | WS_VISIBLE);
    cs.lpszClass = "#32768";
    cs.x = x;
    cs.y = y;
    HWND popup = create_window(cs, find_class("#32768"), std::move(owned));
    if (!popup) return FALSE;
    std::shared_ptr<Window> held = find_window(popup);
    run_popup(popup, state);
    const UINT chosen = state->chosen;
    if (IsWindow(popup)) DestroyWindow(popup);
    if (!chosen) return FALSE;
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
    PostMessageA(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    return TRUE;
}
