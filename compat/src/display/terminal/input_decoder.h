// Turns the bytes a terminal sends into keys, characters, mouse events and
// pastes: UTF-8 text, the xterm/VT key sequences (CSI and SS3, with their
// Shift/Alt/Ctrl modifiers), SGR (1006) and X10 mouse reports, and
// bracketed paste (ESC [ 200 ~ ... ESC [ 201 ~), whose text arrives whole
// and is never read as keys.
#pragma once

#include <string>

namespace compat {
namespace terminal {

enum class Key {
    None, Char, Enter, Tab, BackTab, Escape, Backspace, Delete, Insert,
    Up, Down, Left, Right, Home, End, PageUp, PageDown,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12, Menu,
    CtrlC, CtrlL,
};

enum Modifier : unsigned { kShift = 1, kAlt = 2, kCtrl = 4 };

struct MouseEvent {
    enum Button { Left, Middle, Right, WheelUp, WheelDown, Other } button = Left;
    bool press = true;   // false: the button was let go
    int row = 0, col = 0;  // 0-based cell
};

struct InputEvent {
    enum Kind { KeyPress, Mouse, Paste } kind = KeyPress;
    Key key = Key::None;
    wchar_t ch = 0;          // Key::Char
    unsigned modifiers = 0;  // Modifier bits
    MouseEvent mouse;
    std::wstring paste;      // Paste: the text, as the terminal sent it
};

class InputDecoder {
public:
    void feed(const char *bytes, size_t n);
    // The next complete event; false when none is complete yet.
    bool next(InputEvent *out);
    // Bytes wait that may start a sequence (a lone ESC, a cut UTF-8
    // character): once nothing more comes for a moment, flush() takes them
    // as they are (a lone ESC is the Esc key).
    bool pending() const { return !in_paste_ && pos_ < buffer_.size(); }
    void flush();

private:
    enum class Parse { Done, NeedMore, Bad };
    Parse parse(InputEvent *out);
    Parse parse_escape(InputEvent *out, size_t start);
    Parse parse_csi(InputEvent *out, size_t start);
    Parse parse_utf8(InputEvent *out, size_t start);
    bool take_paste(InputEvent *out);
    void compact();

    std::string buffer_;
    size_t pos_ = 0;
    bool in_paste_ = false;
    bool flushing_ = false;
};

}  // namespace terminal
}  // namespace compat
