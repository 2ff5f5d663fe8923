// BUTTON: a click (BM_CLICK, the left button, Space) tells the parent with
// WM_COMMAND(BN_CLICKED). EDIT: text with a caret that typed characters go
// in at; its text always has CR LF line ends, as Win32 multi-line edits
// give it out.
#include "user32/controls.h"

#include <string>

#include "display/display.h"
#include "user32/dialog.h"

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
        case WM_LBUTTONDOWN: pressed = takes_input(w.handle); return 0;
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

struct Edit final : Control {
    explicit Edit(DWORD s) : style(s) {}
    const DWORD style;
    size_t caret = 0;  // the edit's own thread only

    void set_text(Window &w, std::string text) {
        caret = text.size();
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            w.text = std::move(text);
        }
        display::changed(w.handle, display::Change::Text);
    }

    void type(Window &w, char c) {
        std::string text;
        {
            std::lock_guard<std::mutex> lock(window_mutex());
            text = w.text;
        }
        if (caret > text.size()) caret = text.size();
        if (c == '\b') {
            if (caret == 0) return;
            size_t n = caret >= 2 && text.compare(caret - 2, 2, "\r\n") == 0 ? 2 : 1;
            text.erase(caret - n, n);
            caret -= n;
        } else if (c == '\r') {
            if (!(style & ES_MULTILINE) || !(style & ES_WANTRETURN)) return;
            text.insert(caret, "\r\n");
            caret += 2;
        } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
            text.insert(caret, 1, c);
            caret += 1;
        } else {
            return;
        }
        size_t keep = caret;
        set_text(w, std::move(text));
        caret = keep;
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
        default: return def_window_proc(w, msg, wp, lp);
        }
    }
};

}  // namespace

std::unique_ptr<Control> make_button(const CREATESTRUCTA &) { return std::make_unique<Button>(); }

std::unique_ptr<Control> make_edit(const CREATESTRUCTA &cs) {
    return std::make_unique<Edit>(static_cast<DWORD>(cs.style));
}

}  // namespace compat
