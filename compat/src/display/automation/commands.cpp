// The automation server's commands.
//
// Every read goes through the display seam (snapshot, read_list_box) or a
// cross-thread message that the window's own thread carries out; every
// input is a message posted to the window's thread. The server never runs
// a window procedure itself.
#include "display/automation/automation_server.h"

#include <compat_seams.h>
#include <windows.h>


#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/exit_hooks.h"
#include "core/thread_record.h"
#include "display/automation/wire_text.h"
#include "display/display.h"
#include "user32/queue.h"
#include "user32/window.h"

namespace compat {
namespace automation {

namespace {

constexpr int kProtocolVersion = 1;

// Virtual-key codes of the keys that `key` knows.
constexpr WPARAM kVkTab = 0x09;
constexpr WPARAM kVkReturn = 0x0D;
constexpr WPARAM kVkShift = 0x10;
constexpr WPARAM kVkEscape = 0x1B;
constexpr WPARAM kVkSpace = 0x20;
constexpr WPARAM kVkLeft = 0x25;
constexpr WPARAM kVkUp = 0x26;
constexpr WPARAM kVkRight = 0x27;
constexpr WPARAM kVkDown = 0x28;
constexpr WPARAM kVkApps = 0x5D;
constexpr WPARAM kVkF10 = 0x79;


// ---- replies ----

struct Reply {
    std::string text;
    void ok() { text = "ok\n"; }
    // Fields follow, the last of which may be the empty text.
    void ok(const std::string &fields) { text = "ok " + fields + "\n"; }
    void error(const char *reason) { text = std::string("error ") + reason + "\n"; }
    // "ok N" and then the N record lines.
    void records(const std::vector<std::string> &lines) {
        text = "ok " + std::to_string(lines.size()) + "\n";
        for (const std::string &l : lines) text += l + "\n";
    }
};

using Args = std::vector<std::string>;

HWND to_hwnd(uintptr_t h) { return reinterpret_cast<HWND>(h); }
std::string handle_text(HWND h) { return format_handle(reinterpret_cast<uintptr_t>(h)); }

bool parse_window(const std::string &field, HWND *out) {
    uintptr_t h;
    if (!parse_handle(field, &h)) return false;
    *out = to_hwnd(h);
    return true;
}

// The window named by args[index], which must exist; otherwise the reply
// says why and the result is false.
bool window_arg(const Args &args, size_t index, HWND *hwnd, display::WindowSnapshot *snap,
                Reply *reply) {
    if (args.size() <= index || !parse_window(args[index], hwnd)) {
        reply->error("bad-request");
        return false;
    }
    if (!display::snapshot(*hwnd, snap)) {
        reply->error("no-window");
        return false;
    }
    return true;
}

bool int_arg(const Args &args, size_t index, bool allow_negative, long long lo, long long hi,
             long long *value, Reply *reply) {
    if (args.size() <= index || !parse_integer(args[index], allow_negative, value) ||
        *value < lo || *value > hi) {
        reply->error("bad-request");
        return false;
    }
    return true;
}

bool text_arg(const Args &args, size_t index, std::string *text, Reply *reply) {
    if (args.size() <= index || !unescape_text(args[index], text)) {
        reply->error("bad-request");
        return false;
    }
    return true;
}

bool arg_count(const Args &args, size_t n, Reply *reply) {
    if (args.size() != n) {
        reply->error("bad-request");
        return false;
    }
    return true;
}

// Input reaches a window only when it and every window above it (parents,
// up to its top-level window) are visible and enabled, as a screen offers
// it. Owners do not count: a window owned by a disabled one takes input.
bool takes_input(const display::WindowSnapshot &snap, Reply *reply) {
    display::WindowSnapshot cur = snap;
    for (int depth = 0; depth < 64; ++depth) {
        if (!(cur.style & WS_VISIBLE)) {
            reply->error("hidden");
            return false;
        }
        if (cur.style & WS_DISABLED) {
            reply->error("disabled");
            return false;
        }
        if (!cur.parent) return true;
        HWND parent = cur.parent;
        if (!display::snapshot(parent, &cur)) return true;
    }
    return true;
}

bool post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, Reply *reply) {
    if (!PostMessageA(hwnd, msg, wp, lp)) {
        reply->error("no-window");
        return false;
    }
    return true;
}

struct Message {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

// Posts the messages in order. Only the first can fail for want of the
// window: what follows it belongs to input the window has begun to take,
// and a window that this input ends (Esc, a typed Enter) misses the rest.
bool post_all(HWND hwnd, const std::vector<Message> &messages, Reply *reply) {
    for (size_t i = 0; i < messages.size(); ++i) {
        const Message &m = messages[i];
        if (!PostMessageA(hwnd, m.msg, m.wp, m.lp)) {
            if (i > 0) return true;
            reply->error("no-window");
            return false;
        }
    }
    return true;
}

// ---- reading ----

void cmd_hello(const Args &args, Reply *reply) {
    if (!arg_count(args, 1, reply)) return;
    reply->ok("quorvane-automation " + std::to_string(kProtocolVersion));
}

void cmd_windows(const Args &args, Reply *reply) {
    if (!arg_count(args, 1, reply)) return;
    std::vector<std::string> lines;
    for (HWND h : display::windows_under(nullptr)) {
        display::WindowSnapshot s;
        if (!display::snapshot(h, &s)) continue;  // gone meanwhile
        lines.push_back(handle_text(h) + " " + escape_text(s.class_name) + " " +
                        handle_text(s.owner) + " " + std::to_string(s.thread_id) + " " +
                        ((s.style & WS_DISABLED) ? "0" : "1") + " " +
                        ((s.style & WS_VISIBLE) ? "1" : "0") + " " + escape_text(s.text));
    }
    reply->records(lines);
}

void cmd_children(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot parent;
    if (!arg_count(args, 2, reply) || !window_arg(args, 1, &hwnd, &parent, reply)) return;
    std::vector<std::string> lines;
    for (HWND h : parent.children) {
        display::WindowSnapshot s;
        if (!display::snapshot(h, &s)) continue;
        lines.push_back(handle_text(h) + " " + std::to_string(static_cast<long long>(s.id)) + " " +
                        escape_text(s.class_name) + " " + ((s.style & WS_DISABLED) ? "0" : "1") +
                        " " + ((s.style & WS_VISIBLE) ? "1" : "0") + " " + escape_text(s.text));
    }
    reply->records(lines);
}

void cmd_text(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    if (!arg_count(args, 2, reply) || !window_arg(args, 1, &hwnd, &s, reply)) return;
    reply->ok(escape_text(s.text));
}

void cmd_list(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    if (!arg_count(args, 2, reply) || !window_arg(args, 1, &hwnd, &s, reply)) return;
    std::vector<display::ListLine> lines;
    size_t count = 0;
    if (!display::read_list_box(hwnd, 0, static_cast<size_t>(-1), &lines, &count)) {
        reply->error("not-a-list");
        return;
    }
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const display::ListLine &l : lines)
        out.push_back(std::string(l.selected ? "1" : "0") + " " + escape_text(l.text));
    reply->records(out);
}

void cmd_msgboxstyle(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    if (!arg_count(args, 2, reply) || !window_arg(args, 1, &hwnd, &s, reply)) return;
    UINT style = CompatGetMessageBoxStyle(hwnd);
    if (style == COMPAT_NO_MESSAGE_BOX) {
        reply->error("not-a-message-box");
        return;
    }
    reply->ok(format_handle(style));
}

// Set while `holdclipboard 1` keeps the clipboard open on the server's
// thread, as another program that holds it would.
bool clipboard_held = false;

void cmd_clipboard(const Args &args, Reply *reply) {
    if (!arg_count(args, 1, reply)) return;
    if (!clipboard_held && !OpenClipboard(nullptr)) {
        reply->error("busy");
        return;
    }
    HANDLE block = GetClipboardData(CF_TEXT);
    std::string text;
    if (block) {
        const SIZE_T size = GlobalSize(block);
        const char *data = static_cast<const char *>(GlobalLock(block));
        if (data && size > 0) text.assign(data, strnlen(data, size));
        if (data) GlobalUnlock(block);
    }
    if (!clipboard_held) CloseClipboard();
    reply->ok(std::string(block ? "1" : "0") + " " + escape_text(text));
}

void cmd_holdclipboard(const Args &args, Reply *reply) {
    if (!arg_count(args, 2, reply)) return;
    const bool hold = args[1] == "1";
    if (!hold && args[1] != "0") {
        reply->error("bad-request");
        return;
    }
    if (hold != clipboard_held) {
        if (hold ? !OpenClipboard(nullptr) : !CloseClipboard()) {
            reply->error("busy");
            return;
        }
        clipboard_held = hold;
    }
    reply->ok();
}

void cmd_counts(const Args &args, Reply *reply) {
    if (!arg_count(args, 1, reply)) return;
    CompatResourceCounts c = CompatGetResourceCounts();
    reply->ok(std::to_string(c.global_blocks) + " " + std::to_string(c.windows) + " " +
              std::to_string(c.threads) + " " + std::to_string(c.handles) + " " +
              std::to_string(c.sockets));
}

// ---- waiting ----

void cmd_wait(const Args &args, Reply *reply) {
    long long seen, timeout;
    if (!arg_count(args, 3, reply) || !int_arg(args, 1, false, 0, INT64_MAX, &seen, reply) ||
        !int_arg(args, 2, false, 0, INT32_MAX, &timeout, reply))
        return;
    CompatWaitWindowChange(static_cast<unsigned long>(seen), static_cast<int>(timeout));
    reply->ok(std::to_string(CompatWindowChangeCount()));
}

// The thread of a window waits for input: it sleeps in a layer wait with
// no posted or sent message in its queue. The thread says nothing when it
// goes to sleep, so this looks again every millisecond.
void cmd_idle(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    long long timeout;
    if (!arg_count(args, 3, reply) || !window_arg(args, 1, &hwnd, &s, reply) ||
        !int_arg(args, 2, false, 0, INT32_MAX, &timeout, reply))
        return;
    std::shared_ptr<Window> w = find_window(hwnd);
    if (!w) {
        reply->error("no-window");
        return;
    }
    std::shared_ptr<ThreadRecord> t = w->thread;
    MessageQueue *q = t->queue.get();
    w.reset();
    auto idle = [&] {
        if (thread_has_ended(*t)) return true;
        if (q->posted_count.load(std::memory_order_acquire) != 0 ||
            q->sent_count.load(std::memory_order_acquire) != 0)
            return false;
        return t->sleeping.load(std::memory_order_acquire);
    };
    const int64_t deadline = monotonic_ms() + timeout;
    for (;;) {
        // Two looks a little apart, so a thread caught between taking a
        // message and sleeping again is not taken for idle.
        if (idle()) {
            wait_until([] { return false; }, -1, 0, 1);
            if (idle()) {
                reply->ok();
                return;
            }
        }
        if (monotonic_ms() >= deadline) {
            reply->error("timeout");
            return;
        }
        wait_until([] { return false; }, -1, 0, 1);
    }
}

// ---- input ----

// A press of a button: BM_CLICK, after which the button tells its parent
// as a click would.
void cmd_click(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    if (!arg_count(args, 2, reply) || !window_arg(args, 1, &hwnd, &s, reply)) return;
    if (s.class_name != "Button") {
        reply->error("not-a-button");
        return;
    }
    if (!takes_input(s, reply)) return;
    if (post(hwnd, BM_CLICK, 0, 0, reply)) reply->ok();
}

void cmd_rclick(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    long long x, y;
    if (!arg_count(args, 4, reply) || !window_arg(args, 1, &hwnd, &s, reply) ||
        !int_arg(args, 2, true, -32768, 32767, &x, reply) ||
        !int_arg(args, 3, true, -32768, 32767, &y, reply))
        return;
    if (!takes_input(s, reply)) return;
    const LPARAM lp = MAKELPARAM(static_cast<WORD>(static_cast<short>(x)),
                                 static_cast<WORD>(static_cast<short>(y)));
    if (post(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), lp, reply)) reply->ok();
}

void cmd_type(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    std::string text;
    if (!arg_count(args, 3, reply) || !window_arg(args, 1, &hwnd, &s, reply) ||
        !text_arg(args, 2, &text, reply))
        return;
    if (!takes_input(s, reply)) return;
    std::vector<Message> chars;
    for (char c : text) chars.push_back({WM_CHAR, static_cast<unsigned char>(c), 1});
    if (post_all(hwnd, chars, reply)) reply->ok();
}

struct KeyName {
    const char *name;
    WPARAM vk;
    int character;  // what the key types, or -1
    bool shift;
};

const KeyName kKeys[] = {
    {"RETURN", kVkReturn, '\r', false}, {"ESCAPE", kVkEscape, 0x1B, false},
    {"TAB", kVkTab, '\t', false},       {"SHIFT-TAB", kVkTab, '\t', true},
    {"SPACE", kVkSpace, ' ', false},    {"UP", kVkUp, -1, false},
    {"DOWN", kVkDown, -1, false},       {"LEFT", kVkLeft, -1, false},
    {"RIGHT", kVkRight, -1, false},     {"APPS", kVkApps, -1, false},
    {"SHIFT-F10", kVkF10, -1, true},
};

// A keystroke as the window with the keyboard focus receives it: key down,
// the character it types, key up. The context-menu keys (APPS, SHIFT-F10)
// ask the window for its context menu at the position (-1, -1).
void cmd_key(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    if (!arg_count(args, 3, reply) || !window_arg(args, 1, &hwnd, &s, reply)) return;
    const KeyName *key = nullptr;
    for (const KeyName &k : kKeys)
        if (args[2] == k.name) key = &k;
    if (!key) {
        reply->error("unknown-key");
        return;
    }
    if (!takes_input(s, reply)) return;
    if (key->vk == kVkApps || (key->vk == kVkF10 && key->shift)) {
        if (post(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(0xFFFF, 0xFFFF),
                 reply))
            reply->ok();
        return;
    }
    // Once the first message is in, the keystroke is the window's: a window
    // that the key itself ends (Esc in a dialog) misses the rest of it.
    const LPARAM down = 1;
    const LPARAM up = static_cast<LPARAM>(0xC0000001u);
    std::vector<Message> stroke;
    if (key->shift) stroke.push_back({WM_KEYDOWN, kVkShift, down});
    stroke.push_back({WM_KEYDOWN, key->vk, down});
    if (key->character >= 0) stroke.push_back({WM_CHAR, static_cast<WPARAM>(key->character), down});
    stroke.push_back({WM_KEYUP, key->vk, up});
    if (key->shift) stroke.push_back({WM_KEYUP, kVkShift, up});
    if (post_all(hwnd, stroke, reply)) reply->ok();
}

// WM_SETTEXT carries a pointer, so it is sent: the window's thread sets
// the text while the server waits.
void cmd_settext(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    std::string text;
    if (!arg_count(args, 3, reply) || !window_arg(args, 1, &hwnd, &s, reply) ||
        !text_arg(args, 2, &text, reply))
        return;
    if (!SetWindowTextA(hwnd, text.c_str())) {
        reply->error("refused");
        return;
    }
    reply->ok();
}

void cmd_select(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    long long index, on;
    if (!arg_count(args, 4, reply) || !window_arg(args, 1, &hwnd, &s, reply) ||
        !int_arg(args, 2, true, -1, INT32_MAX, &index, reply) ||
        !int_arg(args, 3, false, 0, 1, &on, reply))
        return;
    std::vector<display::ListLine> unused;
    size_t count = 0;
    if (!display::read_list_box(hwnd, 0, 0, &unused, &count)) {
        reply->error("not-a-list");
        return;
    }
    if (index >= static_cast<long long>(count)) {
        reply->error("no-line");
        return;
    }
    if (!takes_input(s, reply)) return;
    if (post(hwnd, LB_SETSEL, static_cast<WPARAM>(on), static_cast<LPARAM>(index), reply))
        reply->ok();
}

// The close box of the title bar.
void cmd_close(const Args &args, Reply *reply) {
    HWND hwnd;
    display::WindowSnapshot s;
    if (!arg_count(args, 2, reply) || !window_arg(args, 1, &hwnd, &s, reply)) return;
    if (s.parent || !(s.style & WS_SYSMENU)) {
        reply->error("no-close-box");
        return;
    }
    if (!takes_input(s, reply)) return;
    if (post(hwnd, WM_CLOSE, 0, 0, reply)) reply->ok();
}

// ---- the open popup menu ----

// The open pop-up menu (the newest, should menus nest) and its lines.
struct OpenMenu {
    HWND popup = nullptr;
    display::WindowSnapshot snap;
    std::vector<display::MenuLine> lines;
};

// Finds the open menu; when there is none the reply says so.
bool find_open_menu(OpenMenu *menu, Reply *reply) {
    for (HWND h : display::windows_under(nullptr)) {
        display::WindowSnapshot s;
        std::vector<display::MenuLine> l;
        if (display::snapshot(h, &s) && s.class_name == "#32768" && (s.style & WS_VISIBLE) &&
            display::read_menu(h, &l)) {
            menu->popup = h;
            menu->snap = s;
            menu->lines = std::move(l);
        }
    }
    if (!menu->popup) reply->error("no-menu");
    return menu->popup != nullptr;
}

void cmd_menu(const Args &args, Reply *reply) {
    OpenMenu menu;
    if (!arg_count(args, 1, reply) || !find_open_menu(&menu, reply)) return;
    reply->text = "ok " + std::to_string(menu.lines.size()) + " " +
                  std::to_string(static_cast<long long>(menu.snap.rect.left)) + " " +
                  std::to_string(static_cast<long long>(menu.snap.rect.top)) + "\n";
    for (const display::MenuLine &l : menu.lines)
        reply->text += std::to_string(l.id) + " " + escape_text(l.text) + "\n";
}

void cmd_choose(const Args &args, Reply *reply) {
    long long id;
    OpenMenu menu;
    if (!arg_count(args, 2, reply) || !int_arg(args, 1, false, 0, 0xFFFF, &id, reply) ||
        !find_open_menu(&menu, reply))
        return;
    for (size_t i = 0; i < menu.lines.size(); ++i) {
        if (menu.lines[i].popup || menu.lines[i].id != static_cast<UINT>(id)) continue;
        if (post(menu.popup, display::kMenuChoose, static_cast<WPARAM>(i), 0, reply)) reply->ok();
        return;
    }
    reply->error("no-item");
}

void cmd_menucancel(const Args &args, Reply *reply) {
    OpenMenu menu;
    if (!arg_count(args, 1, reply) || !find_open_menu(&menu, reply)) return;
    if (post(menu.popup, WM_KEYDOWN, kVkEscape, 1, reply)) reply->ok();
}

// ---- the network ----

bool parse_ipv4(const std::string &text, ULONG *addr) {
    unsigned parts[4];
    char rest;
    if (sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3],
               &rest) != 4)
        return false;
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) return false;
        bytes[i] = static_cast<unsigned char>(parts[i]);
    }
    memcpy(addr, bytes, 4);  // network order: the first part first
    return true;
}

void cmd_route(const Args &args, Reply *reply) {
    ULONG from, to;
    long long from_port, to_port;
    if (!arg_count(args, 5, reply)) return;
    if (!parse_ipv4(args[1], &from) || !parse_ipv4(args[3], &to)) {
        reply->error("bad-request");
        return;
    }
    if (!int_arg(args, 2, false, 0, 65535, &from_port, reply) ||
        !int_arg(args, 4, false, 0, 65535, &to_port, reply))
        return;
    CompatRouteConnect(from, htons(static_cast<u_short>(from_port)), to,
                       htons(static_cast<u_short>(to_port)));
    reply->ok();
}

// ---- dispatch ----

struct Command {
    const char *name;
    void (*run)(const Args &, Reply *);
};

const Command kCommands[] = {
    {"hello", cmd_hello},         {"windows", cmd_windows},   {"children", cmd_children},
    {"text", cmd_text},           {"list", cmd_list},         {"type", cmd_type},
    {"key", cmd_key},             {"settext", cmd_settext},   {"click", cmd_click},
    {"rclick", cmd_rclick},       {"select", cmd_select},     {"menu", cmd_menu},
    {"choose", cmd_choose},       {"menucancel", cmd_menucancel},
    {"msgboxstyle", cmd_msgboxstyle}, {"clipboard", cmd_clipboard},
    {"holdclipboard", cmd_holdclipboard},
    {"route", cmd_route},         {"close", cmd_close},       {"wait", cmd_wait},
    {"idle", cmd_idle},           {"counts", cmd_counts},
};

// A thread's end is no window change, but a driver waits for it too (the
// end of a run's worker, seen in `counts`). The layer counts a thread out
// only after its exit hooks have run, so the hook arms an object that the
// thread's own end destroys later still, and that one moves the count on.
struct ThreadEndSignal {
    bool armed = false;
    ~ThreadEndSignal() {
        if (armed) CompatSignalWindowChange();
    }
};
thread_local ThreadEndSignal thread_end_signal;

void arm_thread_end_signal(ThreadRecord &) { thread_end_signal.armed = true; }

}  // namespace

void signal_thread_ends() {
    static const bool added = add_thread_exit_hook(arm_thread_end_signal);
    (void)added;
}

std::string answer_request(const std::string &raw) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Reply reply;
    const std::string name = line.substr(0, line.find(' '));
    for (const Command &c : kCommands) {
        if (name != c.name) continue;
        c.run(split_fields(line), &reply);
        return reply.text;
    }
    reply.error("unknown-command");
    return reply.text;
}

}  // namespace automation
}  // namespace compat
