// BUTTON: a click (BM_CLICK, the left button, Space) tells the parent with
// WM_COMMAND(BN_CLICKED); the left button also takes the focus. EDIT: text
// with a caret that typed characters go in at and the caret keys move; its
// text always has CR LF line ends, as Win32 multi-line edits give it out.
// A display back end reads the text and the caret with display::read_edit.
#include "user32/controls.h"

#include <algorithm>
#include <string>

#include "display/display.h"
#include "user32/dialog.h"
#include "user32/queue.h"

namespace compat {

namespace {

struct Button final : Control {
    bool pressed = false;

    static void click(Window &w) {
        if (!takes_input(w.handle)) return;
        HWND parent;
        LONG_PTR id;
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            parent = w.parent;
            id = w.id;
        }
        if (parent)
            SendMessageA(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                         reinterpret_cast<LPARAM>(w.handle));
    }

    LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) override {
        switch (msg) {
        case BM_CLICK: click(w); return 0;
        case WM_LBUTTONDOWN:
            pressed = takes_input(w.handle);
            if (pressed) SetFocus(w.handle);
            return 0;
        case WM_LBUTTONUP:
            if (pressed) click(w);
            pressed = false;
            return 0;
        case WM_KEYUP:
            if (wp == kVkSpace) click(w);
            return 0;
        case WM_CHAR:
            return 0;
        default: return def_window_proc(w, msg, wp, lp);
        }
    }
};

// Bare LF and bare CR become CR LF.
std::string with_crlf(const char *text) {
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (*p == '\r' && p[1] == '\n') {
            out += "\r\n";
            ++p;
        } else if (*p == '\n' || *p == '\r') {
            out += "\r\n";
        } else {
            out += *p;
        }
    }
    return out;
}

// ---- positions in the edit's GBK text ----
// A character is one byte, a GBK lead byte and the byte after it, or the
// CR LF that ends a line. Lines hold no CR or LF, so a line's first byte
// always starts a character and the characters of a line are found by
// walking it from there.

bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

size_t line_start(const std::string &t, size_t pos) {
    const size_t lf = pos == 0 ? std::string::npos : t.rfind('\n', pos - 1);
    return lf == std::string::npos ? 0 : lf + 1;
}

size_t line_end(const std::string &t, size_t pos) {
    const size_t cr = t.find('\r', pos);
    return cr == std::string::npos ? t.size() : cr;
}

size_t char_length(const std::string &t, size_t pos) {
    if (pos >= t.size()) return 0;
    if (t.compare(pos, 2, "\r\n") == 0) return 2;
    if (is_lead_byte(static_cast<unsigned char>(t[pos])) && pos + 1 < t.size() &&
        t[pos + 1] != '\r')
        return 2;
    return 1;
}

// The start of the character that pos falls in (pos itself at a start).
size_t char_start(const std::string &t, size_t pos) {
    if (pos >= t.size()) return t.size();
    if (pos > 0 && t[pos] == '\n' && t[pos - 1] == '\r') return pos - 1;
    size_t i = line_start(t, pos);
    while (i < pos) {
        const size_t next = i + char_length(t, i);
        if (next > pos) return i;
        i = next;
    }
    return pos;
}

size_t previous_char(const std::string &t, size_t pos) {
    if (pos == 0) return 0;
    return char_start(t, pos - 1);
}

// The same byte column on the line above (-1) or below (+1), at the start
// of the character found there; GBK characters are as wide on a screen as
// they have bytes.
size_t other_line(const std::string &t, size_t pos, int direction) {
    const size_t start = line_start(t, pos);
    const size_t column = pos - start;
    size_t target_start;
    if (direction < 0) {
        if (start == 0) return pos;
        target_start = line_start(t, start - 2);
    } else {
        const size_t end = line_end(t, pos);
        if (end >= t.size()) return pos;
        target_start = end + 2;
    }
    const size_t target_end = line_end(t, target_start);
    return char_start(t, std::min(target_start + column, target_end));
}

struct Edit final : Control {
    explicit Edit(DWORD s) : style(s) {}
    const DWORD style;
    size_t caret = 0;  // guarded by window_mutex(), with the window's text

    bool multiline() const { return (style & ES_MULTILINE) != 0; }

    // Runs f(text, caret) under the lock; f returns whether the text changed.
    // The display hears of a change of either.
    template <class F>
    void update(Window &w, F f) {
        bool text_changed, moved;
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            const size_t before = caret;
            text_changed = f(w.text, caret);
            moved = caret != before;
        }
        if (text_changed) display::changed(w.handle, display::Change::Text);
        else if (moved) display::changed(w.handle, display::Change::Content);
    }

    void set_text(Window &w, std::string text) {
        update(w, [&](std::string &t, size_t &c) {
            t = std::move(text);
            c = t.size();
            return true;
        });
    }

    void type(Window &w, char c) {
        if (c == '\r' && (!multiline() || !(style & ES_WANTRETURN))) return;
        if (c != '\b' && c != '\r' && c != '\t' && static_cast<unsigned char>(c) < 0x20) return;
        update(w, [&](std::string &t, size_t &at) {
            if (at > t.size()) at = t.size();
            if (c == '\b') {
                if (at == 0) return false;
                const size_t from = previous_char(t, at);
                t.erase(from, at - from);
                at = from;
            } else if (c == '\r') {
                t.insert(at, "\r\n");
                at += 2;
            } else {
                t.insert(at, 1, c);
                at += 1;
            }
            return true;
        });
    }

    // The caret keys; Ctrl+Home and Ctrl+End go to the ends of the text.
    void key(Window &w, WPARAM vk) {
        const bool ctrl = key_down(kVkControl);
        update(w, [&](std::string &t, size_t &at) {
            if (at > t.size()) at = t.size();
            switch (vk) {
            case kVkLeft: at = previous_char(t, at); return false;
            case kVkRight: at += char_length(t, at); return false;
            case kVkHome: at = ctrl ? 0 : line_start(t, at); return false;
            case kVkEnd: at = ctrl ? t.size() : line_end(t, at); return false;
            case kVkUp: if (multiline()) at = other_line(t, at, -1); return false;
            case kVkDown: if (multiline()) at = other_line(t, at, +1); return false;
            case kVkDelete: {
                const size_t n = char_length(t, at);
                if (n == 0) return false;
                t.erase(at, n);
                return true;
            }
            default: return false;
            }
        });
    }

    // EM_SETSEL: the edit keeps no selection, only the caret, which goes to
    // the end of the range (-1 or past the text: the end of the text).
    void set_caret(Window &w, LPARAM end) {
        update(w, [&](std::string &t, size_t &at) {
            at = end < 0 || static_cast<size_t>(end) > t.size() ? t.size()
                                                                : char_start(t, static_cast<size_t>(end));
            return false;
        });
    }

    LRESULT get_caret(WPARAM wp, LPARAM lp) {
        size_t at;
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            at = caret;
        }
        if (wp) *reinterpret_cast<DWORD *>(wp) = static_cast<DWORD>(at);
        if (lp) *reinterpret_cast<DWORD *>(lp) = static_cast<DWORD>(at);
        return MAKELONG(static_cast<WORD>(at), static_cast<WORD>(at));
    }

    LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) override {
        switch (msg) {
        case WM_CREATE: {
            auto *cs = reinterpret_cast<CREATESTRUCTA *>(lp);
            std::string text = with_crlf(cs->lpszName ? cs->lpszName : "");
            std::lock_guard<std::mutex> lock(window_mutex());
            w.text = text;
            caret = text.size();
            return 0;
        }
        case WM_SETTEXT:
            set_text(w, with_crlf(lp ? reinterpret_cast<const char *>(lp) : ""));
            return TRUE;
        case WM_CHAR:
            if (takes_input(w.handle)) type(w, static_cast<char>(wp));
            return 0;
        case WM_KEYDOWN:
            if (takes_input(w.handle)) key(w, wp);
            return 0;
        case WM_LBUTTONDOWN:
            if (takes_input(w.handle)) SetFocus(w.handle);
            return 0;
        case EM_SETSEL:
            set_caret(w, lp);
            return 0;
        case EM_GETSEL:
            return get_caret(wp, lp);
        default: return def_window_proc(w, msg, wp, lp);
        }
    }
};

}  // namespace

std::unique_ptr<Control> make_button(const CREATESTRUCTA &) { return std::make_unique<Button>(); }

std::unique_ptr<Control> make_edit(const CREATESTRUCTA &cs) {
    return std::make_unique<Edit>(static_cast<DWORD>(cs.style));
}

namespace display {

bool read_edit(HWND hwnd, std::string *text, size_t *caret) {
    auto w = find_window(hwnd);
    auto *edit = w ? dynamic_cast<Edit *>(w->control.get()) : nullptr;
    if (!edit || !text || !caret) return false;
    std::lock_guard<std::mutex> lock(window_mutex());
    *text = w->text;
    *caret = std::min(edit->caret, w->text.size());
    return true;
}

}  // namespace display

}  // namespace compat
