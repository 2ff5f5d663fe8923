#include "display/terminal/input_decoder.h"

#include <cstdlib>
#include <vector>

#include "display/terminal/codec.h"

namespace compat {
namespace terminal {

namespace {

const char kPasteEnd[] = "\x1b[201~";

InputEvent key_event(Key k, unsigned modifiers = 0) {
    InputEvent e;
    e.key = k;
    e.modifiers = modifiers;
    return e;
}

// CSI ... ~ by its first parameter.
Key tilde_key(int code) {
    switch (code) {
    case 1: case 7: return Key::Home;
    case 2: return Key::Insert;
    case 3: return Key::Delete;
    case 4: case 8: return Key::End;
    case 5: return Key::PageUp;
    case 6: return Key::PageDown;
    case 11: return Key::F1;
    case 12: return Key::F2;
    case 13: return Key::F3;
    case 14: return Key::F4;
    case 15: return Key::F5;
    case 17: return Key::F6;
    case 18: return Key::F7;
    case 19: return Key::F8;
    case 20: return Key::F9;
    case 21: return Key::F10;
    case 23: return Key::F11;
    case 24: return Key::F12;
    case 29: return Key::Menu;
    default: return Key::None;
    }
}

// The final letter of CSI and SS3 key sequences.
Key letter_key(char c) {
    switch (c) {
    case 'A': return Key::Up;
    case 'B': return Key::Down;
    case 'C': return Key::Right;
    case 'D': return Key::Left;
    case 'H': return Key::Home;
    case 'F': return Key::End;
    case 'P': return Key::F1;
    case 'Q': return Key::F2;
    case 'R': return Key::F3;
    case 'S': return Key::F4;
    default: return Key::None;
    }
}

// xterm's modifier parameter: 1 + Shift(1) + Alt(2) + Ctrl(4).
unsigned modifier_bits(int param) { return param > 1 ? static_cast<unsigned>(param - 1) & 7 : 0; }

std::vector<int> numbers(const std::string &params) {
    std::vector<int> out;
    size_t i = 0;
    while (i <= params.size()) {
        size_t semi = params.find(';', i);
        if (semi == std::string::npos) semi = params.size();
        out.push_back(atoi(params.substr(i, semi - i).c_str()));
        i = semi + 1;
    }
    return out;
}

// The button code of a mouse report: low bits the button, +4 Shift, +8 Alt,
// +16 Ctrl, +32 motion, +64 the wheel.
void mouse_button(int code, InputEvent *e) {
    e->kind = InputEvent::Mouse;
    e->modifiers = ((code & 4) ? unsigned{kShift} : 0u) | ((code & 8) ? unsigned{kAlt} : 0u) |
                   ((code & 16) ? unsigned{kCtrl} : 0u);
    const int base = code & 3;
    if (code & 64)
        e->mouse.button = base == 0 ? MouseEvent::WheelUp : base == 1 ? MouseEvent::WheelDown
                                                                      : MouseEvent::Other;
    else if (code & 32)
        e->mouse.button = MouseEvent::Other;  // motion, which is not asked for
    else
        e->mouse.button = base == 0   ? MouseEvent::Left
                          : base == 1 ? MouseEvent::Middle
                          : base == 2 ? MouseEvent::Right
                                      : MouseEvent::Other;
}

}  // namespace

void InputDecoder::feed(const char *bytes, size_t n) { buffer_.append(bytes, n); }

void InputDecoder::compact() {
    if (pos_ > 4096 || pos_ == buffer_.size()) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
}

void InputDecoder::flush() { flushing_ = true; }

bool InputDecoder::next(InputEvent *out) {
    for (;;) {
        if (in_paste_) {
            if (!take_paste(out)) return false;
            return true;
        }
        if (pos_ >= buffer_.size()) {
            flushing_ = false;
            compact();
            return false;
        }
        const Parse p = parse(out);
        if (p == Parse::NeedMore && !flushing_) return false;
        if (p == Parse::Done) {
            compact();
            if (out->key == Key::None && out->kind == InputEvent::KeyPress) continue;
            return true;
        }
        // Cut short and nothing more came, or not a sequence we know: a
        // lone ESC is the Esc key, other bytes are dropped one by one.
        const char c = buffer_[pos_++];
        if (c == '\x1b') {
            *out = key_event(Key::Escape);
            return true;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            *out = key_event(Key::Char);
            out->ch = L'?';
            return true;
        }
    }
}

InputDecoder::Parse InputDecoder::parse(InputEvent *out) {
    const size_t start = pos_;
    const unsigned char c = static_cast<unsigned char>(buffer_[start]);
    if (c == 0x1b) return parse_escape(out, start);
    if (c >= 0x80) return parse_utf8(out, start);
    pos_ = start + 1;
    switch (c) {
    case '\r': case '\n': *out = key_event(Key::Enter); return Parse::Done;
    case '\t': *out = key_event(Key::Tab); return Parse::Done;
    case 0x7f: case 0x08: *out = key_event(Key::Backspace); return Parse::Done;
    case 0x03: *out = key_event(Key::CtrlC); return Parse::Done;
    case 0x0c: *out = key_event(Key::CtrlL); return Parse::Done;
    case 0x00: *out = key_event(Key::Char, kCtrl); out->ch = L' '; return Parse::Done;
    default: break;
    }
    if (c < 0x20) {
        *out = key_event(Key::None);  // other Ctrl letters: nothing
        return Parse::Done;
    }
    *out = key_event(Key::Char);
    out->ch = static_cast<wchar_t>(c);
    return Parse::Done;
}

InputDecoder::Parse InputDecoder::parse_utf8(InputEvent *out, size_t start) {
    const unsigned char b = static_cast<unsigned char>(buffer_[start]);
    const size_t n = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0) return Parse::Bad;
    if (start + n > buffer_.size()) return Parse::NeedMore;
    const std::wstring w = from_utf8(buffer_.substr(start, n));
    if (w.size() != 1) return Parse::Bad;
    pos_ = start + n;
    *out = key_event(Key::Char);
    out->ch = w[0];
    return Parse::Done;
}

InputDecoder::Parse InputDecoder::parse_escape(InputEvent *out, size_t start) {
    if (start + 1 >= buffer_.size()) return Parse::NeedMore;
    const char second = buffer_[start + 1];
    if (second == '[') return parse_csi(out, start);
    if (second == 'O') {
        if (start + 2 >= buffer_.size()) return Parse::NeedMore;
        const Key k = letter_key(buffer_[start + 2]);
        pos_ = start + 3;
        *out = key_event(k);
        return Parse::Done;
    }
    // Esc followed by anything else is the Esc key and then that key: the
    // program has no use for Alt, and an Esc typed just before another key
    // must not vanish into it.
    pos_ = start + 1;
    *out = key_event(Key::Escape);
    return Parse::Done;
}

InputDecoder::Parse InputDecoder::parse_csi(InputEvent *out, size_t start) {
    size_t i = start + 2;
    // X10 mouse: ESC [ M and three bytes, each the value plus 32.
    if (i < buffer_.size() && buffer_[i] == 'M') {
        if (i + 3 >= buffer_.size()) return Parse::NeedMore;
        const int code = static_cast<unsigned char>(buffer_[i + 1]) - 32;
        InputEvent e;
        mouse_button(code, &e);
        e.mouse.press = (code & 3) != 3;
        if ((code & 3) == 3) e.mouse.button = MouseEvent::Left;  // release of some button
        e.mouse.col = static_cast<unsigned char>(buffer_[i + 2]) - 33;
        e.mouse.row = static_cast<unsigned char>(buffer_[i + 3]) - 33;
        pos_ = i + 4;
        *out = e;
        return Parse::Done;
    }
    std::string params;
    char prefix = 0;
    if (i < buffer_.size() && (buffer_[i] == '<' || buffer_[i] == '?' || buffer_[i] == '>')) {
        prefix = buffer_[i];
        ++i;
    }
    for (; i < buffer_.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(buffer_[i]);
        if ((c >= '0' && c <= '9') || c == ';') {
            params += static_cast<char>(c);
            continue;
        }
        if (c < 0x40 || c > 0x7e) {
            pos_ = i;  // not a sequence; what follows is read afresh
            *out = key_event(Key::None);
            return Parse::Done;
        }
        break;
    }
    if (i >= buffer_.size()) return Parse::NeedMore;
    const char final_byte = buffer_[i];
    pos_ = i + 1;
    const std::vector<int> n = numbers(params);
    *out = key_event(Key::None);
    if (prefix == '<' && (final_byte == 'M' || final_byte == 'm') && n.size() >= 3) {
        mouse_button(n[0], out);
        out->mouse.press = final_byte == 'M';
        out->mouse.col = n[1] - 1;
        out->mouse.row = n[2] - 1;
        return Parse::Done;
    }
    if (prefix) return Parse::Done;
    if (final_byte == '~') {
        if (n[0] == 200) {
            in_paste_ = true;
            return Parse::Done;
        }
        *out = key_event(tilde_key(n[0]), n.size() > 1 ? modifier_bits(n[1]) : 0);
        return Parse::Done;
    }
    if (final_byte == 'Z') {
        *out = key_event(Key::BackTab, kShift);
        return Parse::Done;
    }
    *out = key_event(letter_key(final_byte), n.size() > 1 ? modifier_bits(n[1]) : 0);
    return Parse::Done;
}

// Gathers the pasted bytes up to the end marker; the paste's text is
// UTF-8 like everything the terminal sends.
bool InputDecoder::take_paste(InputEvent *out) {
    const size_t end = buffer_.find(kPasteEnd, pos_);
    if (end == std::string::npos) return false;
    *out = InputEvent();
    out->kind = InputEvent::Paste;
    out->paste = from_utf8(buffer_.substr(pos_, end - pos_));
    pos_ = end + sizeof kPasteEnd - 1;
    in_paste_ = false;
    compact();
    return true;
}

}  // namespace terminal
}  // namespace compat
