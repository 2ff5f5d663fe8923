// user32 windows: the registry of HWND tokens, creation and destruction, the
// window queries, and DefWindowProcA.
#include "user32/window.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <compat_seams.h>

#include "core/counters.h"
#include "display/display.h"
#include "user32/queue.h"

namespace compat {

namespace {

constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorTlwWithWsChild = 1406;
constexpr DWORD kErrorCannotFindWndClass = 1407;
constexpr DWORD kErrorInvalidIndex = 1413;

// Handles grow by 2 from an arbitrary base and are never reused, so a
// stale handle cannot name a newer window. The map is ordered by handle,
// which is creation order.
uintptr_t next_handle = 0x20000;
std::map<uintptr_t, std::shared_ptr<Window>> &registry() {
    static auto *r = new std::map<uintptr_t, std::shared_ptr<Window>>();
    return *r;
}

uintptr_t key(HWND h) { return reinterpret_cast<uintptr_t>(h); }

// The title of top-level windows that cannot be created (see compat_seams.h).
std::mutex refused_mutex;
std::string refused_title;
bool refusing = false;

bool creation_refused(const CREATESTRUCTA &cs) {
    if (cs.style & WS_CHILD) return false;
    std::lock_guard<std::mutex> lock(refused_mutex);
    return refusing && refused_title == (cs.lpszName ? cs.lpszName : "");
}

// The window whose procedure runs on this thread right now, so the
// built-in procedure finds its window without a registry look-up.
thread_local Window *calling_window = nullptr;

std::shared_ptr<Window> find_locked(HWND h) {
    auto it = registry().find(key(h));
    return it == registry().end() ? nullptr : it->second;
}

std::shared_ptr<Window> find_or_fail(HWND h) {
    auto w = find_window(h);
    if (!w) SetLastError(kErrorInvalidWindowHandle);
    return w;
}

// Win32 does without the terminating zero when the buffer is too small; we
// copy as much as fits and always terminate.
int copy_text(const std::string &text, LPSTR out, int size) {
    if (!out || size <= 0) return 0;
    int n = std::min(static_cast<int>(text.size()), size - 1);
    memcpy(out, text.data(), static_cast<size_t>(n));
    out[n] = '\0';
    return n;
}

}  // namespace

std::mutex &window_mutex() {
    static auto *m = new std::mutex();
    return *m;
}

std::shared_ptr<Window> find_window(HWND h) {
    if (!h) return nullptr;
    std::lock_guard<std::mutex> lock(window_mutex());
    return find_locked(h);
}

LRESULT call_window(Window &w, UINT msg, WPARAM wp, LPARAM lp) {
    WNDPROC proc = w.proc.load(std::memory_order_acquire);
    if (!proc) return 0;
    Window *outer = calling_window;
    calling_window = &w;
    struct Restore {
        Window *outer;
        ~Restore() { calling_window = outer; }
    } restore{outer};
    return proc(w.handle, msg, wp, lp);
}

LRESULT CALLBACK builtin_window_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    std::shared_ptr<Window> held;
    Window *w = calling_window;
    if (!w || w->handle != h) {  // reached through CallWindowProcA from elsewhere
        held = find_window(h);
        w = held.get();
        if (!w) return 0;
    }
    if (w->control) return w->control->handle(*w, msg, wp, lp);
    return def_window_proc(*w, msg, wp, lp);
}

LRESULT def_window_proc(Window &w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SETTEXT: {
        const char *text = lp ? reinterpret_cast<const char *>(lp) : "";
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            w.text = text;
        }
        display::changed(w.handle, display::Change::Text);
        return TRUE;
    }
    case WM_GETTEXT: {
        std::lock_guard<std::mutex> lock(window_mutex());
        return copy_text(w.text, reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard<std::mutex> lock(window_mutex());
        return static_cast<LRESULT>(w.text.size());
    }
    case WM_CLOSE:
        DestroyWindow(w.handle);
        return 0;
    case WM_RBUTTONUP: {
        // The click's client position, made a screen position by adding
        // the origins of the window and its ancestors.
        LONG x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
        for (HWND h = w.handle; h;) {
            auto a = find_window(h);
            if (!a) break;
            std::lock_guard<std::mutex> lock(window_mutex());
            x += a->rect.left;
            y += a->rect.top;
            h = a->parent;
        }
        SendMessageA(w.handle, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(w.handle),
                     MAKELPARAM(x, y));
        return 0;
    }
    case WM_CONTEXTMENU: {
        HWND parent;
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            parent = w.parent;
        }
        if (parent) SendMessageA(parent, WM_CONTEXTMENU, wp, lp);
        return 0;
    }
    default:
        return 0;
    }
}

HWND create_window(const CREATESTRUCTA &cs_in, const WindowClass *cls,
                   std::unique_ptr<Control> control) {
    CREATESTRUCTA cs = cs_in;
    const DWORD style = static_cast<DWORD>(cs.style);
    std::shared_ptr<Window> parent_window;
    if (cs.hwndParent) {
        parent_window = find_window(cs.hwndParent);
        if (!parent_window) {
            SetLastError(kErrorInvalidWindowHandle);
            return nullptr;
        }
    } else if (style & WS_CHILD) {
        SetLastError(kErrorTlwWithWsChild);
        return nullptr;
    }
    if (creation_refused(cs)) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    if (!control && cls->make) control = cls->make(cs);

    current_queue();  // the window's messages need somewhere to go
    auto w = std::make_shared<Window>();
    w->cls = cls;
    w->thread = current_thread_shared();
    w->thread_id = w->thread->id;
    w->control = std::move(control);
    w->proc.store(builtin_window_proc, std::memory_order_relaxed);
    w->text = cs.lpszName ? cs.lpszName : "";
    w->style = style;
    w->ex_style = cs.dwExStyle;
    w->rect = RECT{cs.x, cs.y, cs.x + cs.cx, cs.y + cs.cy};
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        w->handle = reinterpret_cast<HWND>(next_handle);
        next_handle += 2;
        if (style & WS_CHILD) {
            w->parent = cs.hwndParent;
            w->id = reinterpret_cast<LONG_PTR>(cs.hMenu);
            parent_window->children.push_back(w->handle);
        } else if (parent_window) {
            // An owner is always a top-level window: a child given as the
            // owner stands for its top-level ancestor.
            std::shared_ptr<Window> top = parent_window;
            while (top->parent) {
                auto up = find_locked(top->parent);
                if (!up) break;
                top = up;
            }
            w->owner = top->handle;
        }
        registry()[key(w->handle)] = w;
    }
    live().windows.fetch_add(1);
    cs.hMenu = reinterpret_cast<HMENU>(w->id);
    if (call_window(*w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        destroy_window(w);
        return nullptr;
    }
    display::changed(w->handle, display::Change::Created);
    return w->handle;
}

void destroy_window(const std::shared_ptr<Window> &w) {
    std::vector<std::shared_ptr<Window>> owned;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        if (w->destroying) return;
        w->destroying = true;
        for (auto &entry : registry()) {
            Window &o = *entry.second;
            if (o.owner != w->handle) continue;
            if (o.thread_id == w->thread_id)
                owned.push_back(entry.second);
            else
                o.owner = nullptr;  // another thread's window outlives its owner
        }
    }
    for (auto &o : owned) destroy_window(o);

    call_window(*w, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        children = w->children;
    }
    for (HWND c : children)
        if (auto child = find_window(c)) destroy_window(child);
    call_window(*w, WM_NCDESTROY, 0, 0);

    {
        std::lock_guard<std::mutex> lock(window_mutex());
        if (w->parent) {
            if (auto p = find_locked(w->parent)) {
                auto &siblings = p->children;
                siblings.erase(std::remove(siblings.begin(), siblings.end(), w->handle),
                               siblings.end());
            }
        }
        registry().erase(key(w->handle));
    }
    live().windows.fetch_sub(1);
    display::changed(w->handle, display::Change::Destroyed);
}

void destroy_thread_windows(DWORD thread_id) {
    std::vector<std::shared_ptr<Window>> doomed;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        for (auto &entry : registry())
            if (entry.second->thread_id == thread_id) doomed.push_back(entry.second);
    }
    for (auto &w : doomed) destroy_window(w);
}

std::vector<HWND> child_handles(HWND parent) {
    std::vector<HWND> out;
    std::lock_guard<std::mutex> lock(window_mutex());
    if (!parent) {
        for (auto &entry : registry())
            if (!entry.second->parent) out.push_back(entry.second->handle);
        return out;
    }
    if (auto p = find_locked(parent)) out = p->children;
    return out;
}

// ---- the display seam's read side ----

namespace display {

bool snapshot(HWND hwnd, WindowSnapshot *out) {
    std::lock_guard<std::mutex> lock(window_mutex());
    auto w = find_locked(hwnd);
    if (!w || !out) return false;
    out->class_name = w->cls->name;
    out->text = w->text;
    out->style = w->style;
    out->ex_style = w->ex_style;
    out->id = w->id;
    out->parent = w->parent;
    out->owner = w->owner;
    out->thread_id = w->thread_id;
    out->rect = w->rect;
    out->children = w->children;
    return true;
}

std::vector<HWND> windows_under(HWND parent) { return child_handles(parent); }

}  // namespace display

}  // namespace compat

using namespace compat;

// ---- creation and destruction ----

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    const WindowClass *cls = class_name && !IS_INTRESOURCE(class_name) ? find_class(class_name)
                                                                       : nullptr;
    if (!cls) {
        SetLastError(kErrorCannotFindWndClass);
        return nullptr;
    }
    CREATESTRUCTA cs;
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cy = height;
    cs.cx = width;
    cs.y = y;
    cs.x = x;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = window_name;
    cs.lpszClass = class_name;
    cs.dwExStyle = ex_style;
    return create_window(cs, cls, nullptr);
}

BOOL WINAPI DestroyWindow(HWND h) {
    auto w = find_or_fail(h);
    if (!w) return FALSE;
    if (w->thread_id != GetCurrentThreadId()) {
        SetLastError(kErrorAccessDenied);
        return FALSE;
    }
    destroy_window(w);
    return TRUE;
}

// ---- state ----

BOOL WINAPI IsWindow(HWND h) { return find_window(h) ? TRUE : FALSE; }

BOOL WINAPI IsWindowEnabled(HWND h) {
    auto w = find_window(h);
    if (!w) return FALSE;
    std::lock_guard<std::mutex> lock(window_mutex());
    return (w->style & WS_DISABLED) ? FALSE : TRUE;
}

BOOL WINAPI IsWindowVisible(HWND h) {
    std::lock_guard<std::mutex> lock(window_mutex());
    auto w = find_locked(h);
    if (!w) return FALSE;
    // Visible only when it and every ancestor are.
    for (;;) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
        if (!w->parent) return TRUE;
        w = find_locked(w->parent);
        if (!w) return TRUE;
    }
}

// Both change the state at once and tell the window with a message that
// does not wait for another thread (Win32 sends it): the change is what
// callers rely on, and the message box re-enables its owner this way while
// its thread may be unwinding.
BOOL WINAPI EnableWindow(HWND h, BOOL enable) {
    auto w = find_or_fail(h);
    if (!w) return FALSE;
    bool was_disabled;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        was_disabled = (w->style & WS_DISABLED) != 0;
        if (enable)
            w->style &= ~static_cast<DWORD>(WS_DISABLED);
        else
            w->style |= static_cast<DWORD>(WS_DISABLED);
    }
    if (was_disabled != !enable) {
        send_notify(w, WM_ENABLE, enable ? TRUE : FALSE, 0);
        display::changed(h, display::Change::State);
    }
    return was_disabled ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
    auto w = find_or_fail(h);
    if (!w) return FALSE;
    const bool show = cmd != SW_HIDE;
    bool was_visible;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        was_visible = (w->style & WS_VISIBLE) != 0;
        if (show)
            w->style |= static_cast<DWORD>(WS_VISIBLE);
        else
            w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    if (was_visible != show) {
        send_notify(w, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
        display::changed(h, display::Change::State);
    }
    return was_visible ? TRUE : FALSE;
}

// ---- relations ----

HWND WINAPI GetDlgItem(HWND dlg, int id) {
    std::lock_guard<std::mutex> lock(window_mutex());
    auto d = find_locked(dlg);
    if (!d) {
        SetLastError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    for (HWND c : d->children) {
        auto child = find_locked(c);
        if (child && child->id == static_cast<LONG_PTR>(id)) return c;
    }
    SetLastError(1421 /* ERROR_CONTROL_ID_NOT_FOUND */);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND h) {
    std::lock_guard<std::mutex> lock(window_mutex());
    auto w = find_locked(h);
    if (!w) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return w->parent ? static_cast<int>(w->id) : 0;
}

// A child's parent, or a pop-up's owner, as on Win32.
HWND WINAPI GetParent(HWND h) {
    std::lock_guard<std::mutex> lock(window_mutex());
    auto w = find_locked(h);
    if (!w) {
        SetLastError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    if (w->style & WS_CHILD) return w->parent;
    if (w->style & WS_POPUP) return w->owner;
    return nullptr;
}

HWND WINAPI GetWindow(HWND h, UINT cmd) {
    std::vector<HWND> siblings;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        auto w = find_locked(h);
        if (!w) {
            SetLastError(kErrorInvalidWindowHandle);
            return nullptr;
        }
        if (cmd == GW_OWNER) return w->owner;
        if (cmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
        if (cmd > GW_HWNDPREV) {
            SetLastError(kErrorInvalidParameter);
            return nullptr;
        }
        if (w->parent) {
            auto p = find_locked(w->parent);
            if (p) siblings = p->children;
        }
    }
    if (siblings.empty()) siblings = child_handles(nullptr);
    auto it = std::find(siblings.begin(), siblings.end(), h);
    if (it == siblings.end()) return nullptr;
    switch (cmd) {
    case GW_HWNDFIRST: return siblings.front();
    case GW_HWNDLAST: return siblings.back();
    case GW_HWNDNEXT: return it + 1 == siblings.end() ? nullptr : *(it + 1);
    default: return it == siblings.begin() ? nullptr : *(it - 1);
    }
}

DWORD WINAPI GetWindowThreadProcessId(HWND h, LPDWORD process_id) {
    auto w = find_window(h);
    if (!w) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    if (process_id) *process_id = static_cast<DWORD>(getpid());
    return w->thread_id;
}

// ---- window longs ----

LONG_PTR WINAPI GetWindowLongPtrA(HWND h, int index) {
    auto w = find_or_fail(h);
    if (!w) return 0;
    if (index == GWLP_WNDPROC)
        return reinterpret_cast<LONG_PTR>(w->proc.load(std::memory_order_acquire));
    std::lock_guard<std::mutex> lock(window_mutex());
    switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->ex_style));
    case GWLP_ID: return w->id;
    case GWLP_USERDATA: return w->user_data;
    default: SetLastError(kErrorInvalidIndex); return 0;
    }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND h, int index, LONG_PTR value) {
    auto w = find_or_fail(h);
    if (!w) return 0;
    if (index == GWLP_WNDPROC) {
        if (!value) {
            SetLastError(kErrorInvalidParameter);
            return 0;
        }
        return reinterpret_cast<LONG_PTR>(
            w->proc.exchange(reinterpret_cast<WNDPROC>(value), std::memory_order_acq_rel));
    }
    LONG_PTR old;
    bool state_changed = false;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        switch (index) {
        case GWL_STYLE:
            old = static_cast<LONG>(w->style);
            w->style = static_cast<DWORD>(value);
            state_changed = old != static_cast<LONG>(w->style);
            break;
        case GWL_EXSTYLE:
            old = static_cast<LONG>(w->ex_style);
            w->ex_style = static_cast<DWORD>(value);
            state_changed = old != static_cast<LONG>(w->ex_style);
            break;
        case GWLP_ID:
            old = w->id;
            w->id = value;
            break;
        case GWLP_USERDATA:
            old = w->user_data;
            w->user_data = value;
            break;
        default:
            SetLastError(kErrorInvalidIndex);
            return 0;
        }
    }
    if (state_changed) display::changed(h, display::Change::State);
    return old;
}

LONG WINAPI GetWindowLongA(HWND h, int index) {
    if (index == GWLP_WNDPROC) {  // does not fit in 32 bits on this host
        SetLastError(kErrorInvalidIndex);
        return 0;
    }
    return static_cast<LONG>(GetWindowLongPtrA(h, index));
}

LONG WINAPI SetWindowLongA(HWND h, int index, LONG value) {
    if (index == GWLP_WNDPROC) {
        SetLastError(kErrorInvalidIndex);
        return 0;
    }
    return static_cast<LONG>(SetWindowLongPtrA(h, index, value));
}

int WINAPI GetClassNameA(HWND h, LPSTR out, int size) {
    auto w = find_or_fail(h);
    if (!w) return 0;
    return copy_text(w->cls->name, out, size);
}

// ---- text, through the window's own messages as on Win32 ----

int WINAPI GetWindowTextA(HWND h, LPSTR out, int size) {
    if (!out || size <= 0) return 0;
    out[0] = '\0';
    auto w = find_or_fail(h);
    if (!w) return 0;
    return static_cast<int>(
        send_message(w, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(out)));
}

int WINAPI GetWindowTextLengthA(HWND h) {
    auto w = find_or_fail(h);
    if (!w) return 0;
    return static_cast<int>(send_message(w, WM_GETTEXTLENGTH, 0, 0));
}

BOOL WINAPI SetWindowTextA(HWND h, LPCSTR text) {
    auto w = find_or_fail(h);
    if (!w) return FALSE;
    return send_message(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR out, int size) {
    if (out && size > 0) out[0] = '\0';
    HWND item = GetDlgItem(dlg, id);
    if (!item) return 0;
    return static_cast<UINT>(GetWindowTextA(item, out, size));
}

BOOL WINAPI SetDlgItemTextA(HWND dlg, int id, LPCSTR text) {
    HWND item = GetDlgItem(dlg, id);
    return item ? SetWindowTextA(item, text) : FALSE;
}

// ---- enumeration: on a snapshot, skipping windows destroyed meanwhile ----

namespace {

BOOL enumerate(const std::vector<HWND> &handles, WNDENUMPROC fn, LPARAM lp) {
    for (HWND h : handles) {
        if (!IsWindow(h)) continue;
        if (!fn(h, lp)) return FALSE;
    }
    return TRUE;
}

void collect_descendants(HWND parent, std::vector<HWND> *out) {
    for (HWND c : child_handles(parent)) {
        out->push_back(c);
        collect_descendants(c, out);
    }
}

}  // namespace

BOOL WINAPI EnumWindows(WNDENUMPROC fn, LPARAM lp) {
    if (!fn) return FALSE;
    return enumerate(child_handles(nullptr), fn, lp);
}

BOOL WINAPI EnumThreadWindows(DWORD thread_id, WNDENUMPROC fn, LPARAM lp) {
    if (!fn) return FALSE;
    std::vector<HWND> mine;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        for (auto &entry : registry())
            if (!entry.second->parent && entry.second->thread_id == thread_id)
                mine.push_back(entry.second->handle);
    }
    if (mine.empty()) return FALSE;
    return enumerate(mine, fn, lp);
}

BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC fn, LPARAM lp) {
    if (!parent) return EnumWindows(fn, lp);
    if (!fn) return FALSE;
    std::vector<HWND> all;
    collect_descendants(parent, &all);
    return enumerate(all, fn, lp);
}

// ---- window procedures ----

LRESULT WINAPI DefWindowProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = find_window(h);
    return w ? def_window_proc(*w, msg, wp, lp) : 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return proc ? proc(h, msg, wp, lp) : 0;
}

void CompatRefuseWindowsTitled(const char *title) {
    std::lock_guard<std::mutex> lock(compat::refused_mutex);
    compat::refusing = title != nullptr;
    compat::refused_title = title ? title : "";
}
