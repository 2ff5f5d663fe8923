// The terminal display's thread: it waits for the terminal's input, for a
// change of the windows, or for the next frame, whichever comes first;
// turns input into messages posted to the windows; and paints a frame when
// something changed and the last frame is at least kFrameMs old, so a run
// that adds thousands of lines a second costs thirty frames a second.
//
// Which window the keys go to: the active one, the window the person works
// in. A window that appears takes it; so does one the person clicks, or
// reaches with F6; when the active window goes, is hidden or disabled, the
// frontmost window that takes input has it.
#include <compat_seams.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/thread_record.h"
#include "display/display.h"
#include "display/terminal/canvas.h"
#include "display/terminal/codec.h"
#include "display/terminal/input_decoder.h"
#include "display/terminal/painter.h"
#include "display/terminal/scene.h"
#include "display/terminal/terminal.h"
#include "display/terminal/tty.h"
#include "user32/dialog.h"

namespace compat {
namespace terminal {

namespace {

constexpr int kFrameMs = 33;         // about 30 frames a second at most
constexpr int kEscapeWaitMs = 40;    // a lone ESC waits this long for the rest of a sequence
constexpr size_t kClipboardMax = 1 << 20;  // larger texts are not sent to the terminal
constexpr int kWheelLines = 3;
constexpr int kResizeSettleMs = 50;  // the first frame after a size change waits this long

struct Stroke {
    WPARAM vk;
    int ch;  // the character the key types, or -1
};

class Session final : public display::Backend {
public:
    bool start(std::string *error);
    void stop();
    void window_changed(HWND hwnd, display::Change change) override;

private:
    static DWORD WINAPI thread_main(LPVOID self);
    void run();
    void wait_for_work();
    void read_input();
    void take_events();
    void frame();
    void refresh_scene();
    void update_active();
    void activate(HWND h);
    void cycle_active(int direction);
    void send_clipboard();

    void on_event(const InputEvent &e);
    void on_key(const InputEvent &e);
    void on_menu_key(const WindowView &menu, const InputEvent &e);
    void on_mouse(const InputEvent &e);
    void on_menu_mouse(const WindowView &menu, const InputEvent &e);
    void on_wheel(const WindowView &w, const InputEvent &e);
    void on_left_click(const WindowView &w, const InputEvent &e);
    void on_paste(const std::wstring &text);
    HWND key_target() const;
    void stroke(HWND target, Stroke s, unsigned modifiers);
    void type_text(HWND target, const std::wstring &text);

    // Shared with the program's threads.
    std::atomic<bool> stop_{false};
    std::atomic<bool> dirty_{true};
    std::atomic<bool> clipboard_{false};
    std::shared_ptr<ThreadRecord> record_;  // the display's thread, kept for good
    std::atomic<ThreadRecord *> waker_{nullptr};
    HANDLE thread_ = nullptr;

    // The display's thread only.
    TextCodec codec_;
    InputDecoder decoder_;
    Scene scene_;
    PaintState paint_;
    int rows_ = 24, cols_ = 80;
    std::set<HWND> seen_;
    HWND menu_ = nullptr;
    std::map<HWND, size_t> pages_sent_;
    int64_t next_frame_ms_ = 0;
    int64_t last_input_ms_ = 0;
    bool redraw_all_ = false;
};

// ---- start, stop, and the core's notices ----

bool Session::start(std::string *error) {
    if (!open_tty(error)) return false;
    display::set_backend(this);
    thread_ = CreateThread(nullptr, 0, thread_main, this, 0, nullptr);
    if (!thread_) {
        display::set_backend(nullptr);
        close_tty();
        *error = "no terminal: the display's thread cannot start";
        return false;
    }
    record_ = thread_from_handle(thread_);
    return true;
}

void Session::stop() {
    if (!thread_) return;
    stop_ = true;
    if (ThreadRecord *t = waker_.load()) notify(*t);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    display::set_backend(nullptr);
    close_tty();
}

// Any thread, no lock held: notes what is to be done and wakes the
// display's thread once for it.
void Session::window_changed(HWND, display::Change change) {
    const bool wake = change == display::Change::Clipboard ? !clipboard_.exchange(true)
                                                           : !dirty_.exchange(true);
    if (!wake) return;
    if (ThreadRecord *t = waker_.load()) notify(*t);
}

DWORD WINAPI Session::thread_main(LPVOID self) {
    static_cast<Session *>(self)->run();
    return 0;
}

// ---- the loop ----

void Session::run() {
    // From here on a change wakes this thread; one that came before is
    // seen by the first wait, as dirty_ starts set.
    waker_ = &current_thread();
    tty_wake_on_resize(&current_thread());
    tty_size(&rows_, &cols_);
    while (!stop_) {
        wait_for_work();
        if (stop_) break;
        if (tty_take_resize()) {
            tty_size(&rows_, &cols_);
            tty_resize(rows_, cols_);
            // The whole screen once the size has settled: a terminal may
            // clear or reflow what it showed after it told of the change.
            redraw_all_ = true;
            dirty_ = true;
            next_frame_ms_ = std::max(next_frame_ms_, monotonic_ms() + kResizeSettleMs);
        }
        read_input();
        if (decoder_.pending() && monotonic_ms() - last_input_ms_ >= kEscapeWaitMs) {
            decoder_.flush();
            take_events();
        }
        if (clipboard_.exchange(false)) send_clipboard();
        if (dirty_ && monotonic_ms() >= next_frame_ms_) frame();
    }
}

// Until the terminal has input, a change waits to be shown (and its frame
// is due), a lone ESC has waited long enough, or the display is stopped.
void Session::wait_for_work() {
    const int64_t now = monotonic_ms();
    const bool frame_later = dirty_ && now < next_frame_ms_;
    int timeout = -1;
    if (frame_later) timeout = static_cast<int>(next_frame_ms_ - now);
    if (decoder_.pending()) {
        const int escape = static_cast<int>(std::max<int64_t>(0, last_input_ms_ + kEscapeWaitMs - now));
        timeout = timeout < 0 ? escape : std::min(timeout, escape);
    }
    wait_until(
        [&] {
            return stop_ || tty_resize_pending() || clipboard_ || (!frame_later && dirty_);
        },
        STDIN_FILENO, POLLIN, timeout);
}

void Session::read_input() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) tty_lost();
    decoder_.feed(buffer, static_cast<size_t>(n));
    last_input_ms_ = monotonic_ms();
    take_events();
}

void Session::take_events() {
    InputEvent e;
    bool refreshed = false;
    while (decoder_.next(&e)) {
        // Input goes to what is there now, even between two frames.
        if (!refreshed && dirty_) refresh_scene();
        refreshed = true;
        on_event(e);
    }
}

void Session::frame() {
    dirty_ = false;
    refresh_scene();
    Canvas canvas(rows_, cols_);
    paint(scene_, paint_, codec_, canvas);
    tty_present(canvas, paint_.cursor_on, paint_.cursor_row, paint_.cursor_col, redraw_all_);
    redraw_all_ = false;
    for (const auto &page : paint_.list_pages) {
        size_t &sent = pages_sent_[page.first];
        if (sent == page.second) continue;
        sent = page.second;
        PostMessageA(page.first, display::kListPage, page.second, 0);
    }
    for (auto it = pages_sent_.begin(); it != pages_sent_.end();)
        it = IsWindow(it->first) ? std::next(it) : pages_sent_.erase(it);
    for (auto it = paint_.edits.begin(); it != paint_.edits.end();)
        it = IsWindow(it->first) ? std::next(it) : paint_.edits.erase(it);
    next_frame_ms_ = monotonic_ms() + kFrameMs;
}

void Session::refresh_scene() {
    scene_ = build_scene(rows_, cols_, codec_);
    update_active();
}

// ---- the active window ----

void Session::update_active() {
    HWND newest = nullptr;
    std::set<HWND> now;
    for (const WindowView &w : scene_.windows) {
        now.insert(w.hwnd);
        if (w.takes_input() && !seen_.count(w.hwnd)) newest = w.hwnd;
    }
    seen_ = now;
    HWND active = paint_.active;
    if (newest) active = newest;
    const WindowView *a = scene_.find(active);
    if (!a || !a->takes_input()) {
        active = nullptr;
        for (const WindowView &w : scene_.windows)
            if (w.takes_input()) active = w.hwnd;
    }
    activate(active);
    const WindowView *menu = scene_.open_menu();
    const HWND menu_hwnd = menu ? menu->hwnd : nullptr;
    if (menu_hwnd != menu_) paint_.menu_item = 0;
    menu_ = menu_hwnd;
}

void Session::activate(HWND h) {
    if (paint_.active == h) return;
    paint_.active = h;
    dirty_ = true;
    if (h) PostMessageA(h, WM_ACTIVATE, WA_ACTIVE, 0);
}

void Session::cycle_active(int direction) {
    std::vector<HWND> order;
    for (const WindowView &w : scene_.windows)
        if (w.takes_input()) order.push_back(w.hwnd);
    if (order.empty()) return;
    size_t at = 0;
    while (at < order.size() && order[at] != paint_.active) ++at;
    const size_t n = order.size();
    activate(order[at == n ? 0 : (at + n + static_cast<size_t>(direction)) % n]);
}

// ---- the clipboard ----

// Copy puts the text on the terminal's own clipboard too (OSC 52), as
// UTF-8 with the line ends of the terminal's system.
void Session::send_clipboard() {
    std::string gbk;
    if (!display::read_clipboard_text(&gbk)) gbk.clear();
    std::string text = to_utf8(codec_.from_gbk(gbk));
    std::string lf;
    lf.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    if (lf.size() > kClipboardMax) return;
    tty_write("\x1b]52;c;" + base64(lf) + "\x07");
}

// ---- input ----

void Session::on_event(const InputEvent &e) {
    switch (e.kind) {
    case InputEvent::KeyPress: on_key(e); break;
    case InputEvent::Mouse: on_mouse(e); break;
    case InputEvent::Paste: on_paste(e.paste); break;
    }
}

// Keys go to the active window; its thread hands each to its focus when
// it takes it, so keys typed ahead follow the focus the keys before them
// moved.
HWND Session::key_target() const { return paint_.active; }

// A keystroke as the focused window takes it, wrapped in Shift and Ctrl
// when they are held. Posting stops at the first refusal: a window that
// the key itself ends (Esc) misses the rest of it.
void Session::stroke(HWND target, Stroke s, unsigned modifiers) {
    if (!target) return;
    const LPARAM down = 1, up = static_cast<LPARAM>(0xC0000001u);
    std::vector<MSG> m;
    auto add = [&](UINT msg, WPARAM wp, LPARAM lp) {
        MSG x{};
        x.message = msg;
        x.wParam = wp;
        x.lParam = lp;
        m.push_back(x);
    };
    if (modifiers & kShift) add(WM_KEYDOWN, kVkShift, down);
    if (modifiers & kCtrl) add(WM_KEYDOWN, kVkControl, down);
    add(WM_KEYDOWN, s.vk, down);
    if (s.ch >= 0) add(WM_CHAR, static_cast<WPARAM>(s.ch), down);
    add(WM_KEYUP, s.vk, up);
    if (modifiers & kCtrl) add(WM_KEYUP, kVkControl, up);
    if (modifiers & kShift) add(WM_KEYUP, kVkShift, up);
    for (const MSG &x : m)
        if (!PostMessageA(target, x.message, x.wParam, x.lParam)) return;
}

void Session::type_text(HWND target, const std::wstring &text) {
    if (!target) return;
    for (char byte : codec_.to_gbk(text))
        if (!PostMessageA(target, WM_CHAR, static_cast<unsigned char>(byte), 1)) return;
}

void Session::on_key(const InputEvent &e) {
    if (e.key == Key::CtrlC) {
        raise(SIGINT);  // puts the terminal back and ends the program
        return;
    }
    if (e.key == Key::CtrlL) {
        redraw_all_ = true;
        dirty_ = true;
        return;
    }
    if (const WindowView *menu = scene_.open_menu()) {
        on_menu_key(*menu, e);
        return;
    }
    if (e.key == Key::F6) {
        cycle_active((e.modifiers & kShift) ? -1 : 1);
        return;
    }
    const HWND target = key_target();
    const unsigned mods = e.modifiers;
    switch (e.key) {
    case Key::Char:
        if (e.ch == L' ')
            stroke(target, {kVkSpace, ' '}, mods);
        else if (!(mods & kCtrl))
            type_text(target, std::wstring(1, e.ch));
        break;
    case Key::Enter: stroke(target, {kVkReturn, '\r'}, mods); break;
    case Key::Tab: stroke(target, {kVkTab, '\t'}, mods); break;
    case Key::BackTab: stroke(target, {kVkTab, '\t'}, mods | kShift); break;
    case Key::Escape: stroke(target, {kVkEscape, 0x1B}, mods); break;
    case Key::Backspace: stroke(target, {kVkBack, '\b'}, mods); break;
    case Key::Delete: stroke(target, {kVkDelete, -1}, mods); break;
    case Key::Up: stroke(target, {kVkUp, -1}, mods); break;
    case Key::Down: stroke(target, {kVkDown, -1}, mods); break;
    case Key::Left: stroke(target, {kVkLeft, -1}, mods); break;
    case Key::Right: stroke(target, {kVkRight, -1}, mods); break;
    case Key::Home: stroke(target, {kVkHome, -1}, mods); break;
    case Key::End: stroke(target, {kVkEnd, -1}, mods); break;
    case Key::PageUp: stroke(target, {kVkPrior, -1}, mods); break;
    case Key::PageDown: stroke(target, {kVkNext, -1}, mods); break;
    case Key::Menu: stroke(target, {kVkApps, -1}, mods); break;
    case Key::F10: stroke(target, {kVkF10, -1}, mods); break;
    default: break;
    }
}

// An open menu takes every key: the arrows move the highlight, Enter or
// Space chooses, Esc (or the menu keys again) closes it.
void Session::on_menu_key(const WindowView &menu, const InputEvent &e) {
    const size_t n = menu.menu.size();
    size_t &item = paint_.menu_item;
    switch (e.key) {
    case Key::Up: if (n) item = (item + n - 1) % n; dirty_ = true; break;
    case Key::Down: if (n) item = (item + 1) % n; dirty_ = true; break;
    case Key::Home: item = 0; dirty_ = true; break;
    case Key::End: if (n) item = n - 1; dirty_ = true; break;
    case Key::Enter: PostMessageA(menu.hwnd, display::kMenuChoose, item, 0); break;
    case Key::Char:
        if (e.ch == L' ') PostMessageA(menu.hwnd, display::kMenuChoose, item, 0);
        break;
    case Key::Escape:
    case Key::Left:
    case Key::Menu:
    case Key::F10: PostMessageA(menu.hwnd, WM_KEYDOWN, kVkEscape, 1); break;
    default: break;
    }
}

void Session::on_mouse(const InputEvent &e) {
    const MouseEvent &m = e.mouse;
    if (!m.press || m.button == MouseEvent::Other || m.button == MouseEvent::Middle) return;
    if (const WindowView *menu = scene_.open_menu()) {
        on_menu_mouse(*menu, e);
        return;
    }
    const WindowView *w = scene_.window_at(m.row, m.col);
    if (!w) return;
    if (m.button == MouseEvent::WheelUp || m.button == MouseEvent::WheelDown) {
        on_wheel(*w, e);
        return;
    }
    if (!w->takes_input()) return;  // a disabled window takes no clicks
    activate(w->hwnd);
    if (m.button == MouseEvent::Right) {
        // Wherever it is in the window, a right click asks for the context
        // menu at the pointer; the control under it hands the request up.
        const ControlView *c = w->control_at(m.row, m.col);
        const HWND target = c ? c->hwnd : w->hwnd;
        PostMessageA(target, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target),
                     MAKELPARAM(m.col, m.row));
        return;
    }
    on_left_click(*w, e);
}

// A click on a line chooses it; anywhere else closes the menu unchosen.
void Session::on_menu_mouse(const WindowView &menu, const InputEvent &e) {
    const MouseEvent &m = e.mouse;
    if (m.button == MouseEvent::WheelUp || m.button == MouseEvent::WheelDown) return;
    const int line = m.row - menu.frame.row - 1;
    if (menu.frame.contains(m.row, m.col) && line >= 0 &&
        static_cast<size_t>(line) < menu.menu.size()) {
        PostMessageA(menu.hwnd, display::kMenuChoose, static_cast<WPARAM>(line), 0);
        return;
    }
    if (!menu.frame.contains(m.row, m.col))
        PostMessageA(menu.hwnd, display::kMenuChoose, menu.menu.size(), 0);
}

void Session::on_wheel(const WindowView &w, const InputEvent &e) {
    const ControlView *c = w.control_at(e.mouse.row, e.mouse.col);
    if (!c || !c->enabled) return;
    const bool up = e.mouse.button == MouseEvent::WheelUp;
    if (c->kind == ControlKind::List) {
        const short delta = static_cast<short>(up ? WHEEL_DELTA : -WHEEL_DELTA);
        PostMessageA(c->hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)),
                     MAKELPARAM(e.mouse.col, e.mouse.row));
    } else if (c->kind == ControlKind::Edit) {
        EditScroll &s = paint_.edits[c->hwnd];
        s.top = up ? (s.top > static_cast<size_t>(kWheelLines) ? s.top - kWheelLines : 0)
                   : s.top + kWheelLines;
        dirty_ = true;
    }
}

void Session::on_left_click(const WindowView &w, const InputEvent &e) {
    const MouseEvent &m = e.mouse;
    if (w.has_close_box() && close_box(w.frame).contains(m.row, m.col)) {
        PostMessageA(w.hwnd, WM_CLOSE, 0, 0);
        return;
    }
    const ControlView *c = w.control_at(m.row, m.col);
    if (!c || !c->enabled || c->kind == ControlKind::Static || c->kind == ControlKind::Other)
        return;
    const Rect inner = inner_rect(*c);
    WPARAM flags = MK_LBUTTON;
    if (e.modifiers & kShift) flags |= MK_SHIFT;
    if (e.modifiers & kCtrl) flags |= MK_CONTROL;
    // Inside a list the position is the row of its view; on its edge the
    // click only focuses it.
    const int row = inner.contains(m.row, m.col) ? m.row - inner.row : -1;
    const LPARAM at = MAKELPARAM(static_cast<WORD>(m.col - inner.col), static_cast<WORD>(row));
    if (!PostMessageA(c->hwnd, WM_LBUTTONDOWN, flags, at)) return;
    PostMessageA(c->hwnd, WM_LBUTTONUP, flags & ~static_cast<WPARAM>(MK_LBUTTON), at);
    std::string text;
    size_t caret;
    if (c->kind == ControlKind::Edit && row >= 0 && display::read_edit(c->hwnd, &text, &caret)) {
        const size_t offset =
            edit_offset_at(text, paint_.edits[c->hwnd], row, m.col - inner.col, codec_);
        PostMessageA(c->hwnd, EM_SETSEL, offset, static_cast<LPARAM>(offset));
    }
}

// Pasted text is typed into the focused window as it came, its line ends
// (CR LF, LF or CR) each one Enter as the character it types; other
// control characters are left out, so nothing pasted acts as a key.
void Session::on_paste(const std::wstring &text) {
    const HWND target = key_target();
    std::wstring run;
    auto flush = [&] {
        type_text(target, run);
        run.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            flush();
            if (target) PostMessageA(target, WM_CHAR, '\r', 1);
        } else if (c == L'\t' || c >= 0x20) {
            run += c;
        }
    }
    flush();
}

Session *session() {
    // Kept for the life of the process: the program's threads may still be
    // in window_changed when the display stops.
    static Session *s = new Session();
    return s;
}

}  // namespace

bool start_terminal(std::string *error) { return session()->start(error); }

void stop_terminal() { session()->stop(); }

}  // namespace terminal
}  // namespace compat
