// The terminal display's parts that need no terminal: the decoder of what
// a terminal sends, the canvas that never cuts a wide character, the
// layout in cells, and the text conversions.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "display/terminal/canvas.h"
#include "display/terminal/codec.h"
#include "display/terminal/input_decoder.h"
#include "display/terminal/layout.h"

namespace {

using namespace compat::terminal;

struct Locale {
    Locale() { setlocale(LC_CTYPE, "C.UTF-8"); }  // as the display sets it up
} locale;

std::string Name(Key k) {
    static const char *const kNames[] = {
        "None", "Char", "Enter", "Tab", "BackTab", "Escape", "Backspace", "Delete", "Insert",
        "Up", "Down", "Left", "Right", "Home", "End", "PageUp", "PageDown",
        "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "Menu",
        "CtrlC", "CtrlL"};
    return kNames[static_cast<int>(k)];
}

// An event as text: "S-C-Down", "Char U+4E2D", "Right press 9,4",
// "Paste a|b".
std::string Describe(const InputEvent &e) {
    std::string mods;
    if (e.modifiers & kShift) mods += "S-";
    if (e.modifiers & kCtrl) mods += "C-";
    if (e.modifiers & kAlt) mods += "A-";
    switch (e.kind) {
    case InputEvent::KeyPress:
        if (e.key == Key::Char) {
            char hex[16];
            snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(e.ch));
            return mods + "Char " + hex;
        }
        return mods + Name(e.key);
    case InputEvent::Mouse: {
        static const char *const kButtons[] = {"Left", "Middle", "Right", "WheelUp", "WheelDown",
                                               "Other"};
        return mods + kButtons[e.mouse.button] + (e.mouse.press ? " press " : " release ") +
               std::to_string(e.mouse.col) + "," + std::to_string(e.mouse.row);
    }
    case InputEvent::Paste: return "Paste " + to_utf8(e.paste);
    }
    return "?";
}

std::vector<std::string> Decode(const std::vector<std::string> &chunks, bool flush = false) {
    InputDecoder d;
    std::vector<std::string> out;
    InputEvent e;
    for (const std::string &c : chunks) {
        d.feed(c.data(), c.size());
        while (d.next(&e)) out.push_back(Describe(e));
    }
    if (flush) {
        d.flush();
        while (d.next(&e)) out.push_back(Describe(e));
    }
    return out;
}

TEST(InputDecoder, KeysMouseReportsAndPastes) {
    struct Row {
        const char *name;
        std::vector<std::string> chunks;
        bool flush;
        std::vector<std::string> events;
    } rows[] = {
        {"plain keys", {"a\r\t\x7f\x03"}, false, {"Char U+0061", "Enter", "Tab", "Backspace", "CtrlC"}},
        {"arrows, CSI and SS3", {"\x1b[A\x1bOB\x1b[C\x1b[D"}, false, {"Up", "Down", "Right", "Left"}},
        {"modifiers", {"\x1b[1;2B\x1b[1;5A\x1b[1;6C"}, false, {"S-Down", "C-Up", "S-C-Right"}},
        {"the ~ keys", {"\x1b[1~\x1b[4~\x1b[5~\x1b[6~\x1b[3~\x1b[2~\x1b[H\x1b[F"}, false,
         {"Home", "End", "PageUp", "PageDown", "Delete", "Insert", "Home", "End"}},
        {"function and menu keys", {"\x1b[21~\x1b[21;2~\x1b[17~\x1b[29~\x1bOP"}, false,
         {"F10", "S-F10", "F6", "Menu", "F1"}},
        {"Shift-Tab", {"\x1b[Z"}, false, {"S-BackTab"}},
        {"UTF-8 characters", {"\xe4\xb8\xad\xc3\xa9"}, false, {"Char U+4E2D", "Char U+00E9"}},
        {"a character cut between two reads", {"\xe4\xb8", "\xad"}, false, {"Char U+4E2D"}},
        {"a sequence cut between two reads", {"\x1b[1;", "2A"}, false, {"S-Up"}},
        {"a lone ESC waits", {"\x1b"}, false, {}},
        {"a lone ESC is Esc once nothing follows", {"\x1b"}, true, {"Escape"}},
        {"Esc just before a key is Esc and the key", {"\x1bx"}, false, {"Escape", "Char U+0078"}},
        {"SGR mouse: press and release, 1-based cells", {"\x1b[<0;10;5M\x1b[<0;10;5m"}, false,
         {"Left press 9,4", "Left release 9,4"}},
        {"SGR mouse: the right button, Ctrl and Shift", {"\x1b[<2;1;1M\x1b[<16;3;2M\x1b[<4;3;2M"},
         false, {"Right press 0,0", "C-Left press 2,1", "S-Left press 2,1"}},
        {"SGR mouse: the wheel", {"\x1b[<64;5;6M\x1b[<65;5;6M"}, false,
         {"WheelUp press 4,5", "WheelDown press 4,5"}},
        {"X10 mouse", {"\x1b[M !!"}, false, {"Left press 0,0"}},
        {"a paste is text, its escapes included",
         {"\x1b[200~1.2.3.4\r\n\x1b[A\t\xe4\xb8\xad\x1b[201~x"}, false,
         {"Paste 1.2.3.4\r\n\x1b[A\t\xe4\xb8\xad", "Char U+0078"}},
        {"a paste in pieces", {"\x1b[200~ab", "c\x1b[2", "01~"}, false, {"Paste abc"}},
        {"a malformed byte is '?'", {"\xff" "a"}, false, {"Char U+003F", "Char U+0061"}},
        {"an unknown sequence is dropped", {"\x1b[99~b"}, false, {"Char U+0062"}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(Decode(row.chunks, row.flush), row.events) << row.name;
}

TEST(Canvas, WideCharactersAreNeverCutInHalf) {
    Canvas c(2, 6);
    const Rect clip{0, 0, 1, 4};
    EXPECT_EQ(c.text(0, 0, L"a\x4E2D\x6587", kPlain, clip), 3) << "文 would stick out";
    EXPECT_EQ(c.row_text(0), L"a\x4E2D   ");
    c.put(0, 2, L'x', kPlain);  // over the right half of 中
    EXPECT_EQ(c.row_text(0), L"a x   ");
    c.text(1, 0, L"\x4E2D\x4E2D", kPlain);
    c.put(1, 0, L'y', kPlain);  // over the left half of the first
    EXPECT_EQ(c.row_text(1), L"y \x4E2D  ");
    c.put(1, 5, L'\x6587', kPlain);  // no room for the right half
    EXPECT_EQ(c.row_text(1), L"y \x4E2D  ");
    c.put(1, 4, L'\x0007', kPlain);  // a control character shows as '?'
    EXPECT_EQ(c.row_text(1), L"y \x4E2D? ");
}

TEST(Layout, DialogUnitsScaleDownToTheScreen) {
    struct Row {
        const char *name;
        int cx, cy, rows, cols;
        Rect frame;
    } rows[] = {
        {"the main window fits 80 x 24", 268, 168, 24, 80, {0, 5, 23, 69}},
        {"the results window is scaled to 23 rows", 298, 236, 24, 80, {0, 1, 23, 77}},
        {"the results window at full size", 298, 236, 40, 100, {3, 11, 32, 77}},
        {"narrower than the dialog", 400, 100, 24, 80, {4, 0, 15, 80}},
    };
    for (const Row &row : rows) {
        const DialogGeometry g = place_dialog(row.cx, row.cy, window_area(row.rows, row.cols));
        EXPECT_EQ(g.frame.row, row.frame.row) << row.name;
        EXPECT_EQ(g.frame.col, row.frame.col) << row.name;
        EXPECT_EQ(g.frame.rows, row.frame.rows) << row.name;
        EXPECT_EQ(g.frame.cols, row.frame.cols) << row.name;
    }
    // The results window's list and buttons at 80 x 24: a list of 18 rows
    // and the buttons on the row below it.
    const DialogGeometry g = place_dialog(298, 236, window_area(24, 80));
    const Rect list = place_control(g, RECT{4, 6, 294, 213});
    const Rect close = place_control(g, RECT{243, 218, 293, 232});
    EXPECT_EQ(list.rows, 18);
    EXPECT_EQ(list.cols, 73);
    EXPECT_EQ(close.row, list.bottom());
    EXPECT_TRUE(screen_too_small(23, 80));
    EXPECT_TRUE(screen_too_small(24, 79));
    EXPECT_FALSE(screen_too_small(24, 80));
}

TEST(Layout, TextWrapsAtWholeCharacters) {
    EXPECT_EQ(wrap_text(L"ab\r\ncd", 10), (std::vector<std::wstring>{L"ab", L"cd"}));
    EXPECT_EQ(wrap_text(L"a\x4E2D\x6587", 2), (std::vector<std::wstring>{L"a", L"\x4E2D", L"\x6587"}));
    const MessageBoxGeometry box = place_message_box(L"caption", L"text\nmore", {L"Yes", L"No"},
                                                     window_area(24, 80));
    EXPECT_EQ(box.lines.size(), 2u);
    EXPECT_EQ(box.frame.rows, 7);
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[0].cols, 7);  // "[ Yes ]"
    EXPECT_EQ(box.buttons[1].col, box.buttons[0].right() + 2);
    EXPECT_EQ(place_menu(30, 78, {L"\x590D\x5236"}, window_area(24, 80)).col, 80 - 8)
        << "moved inside the screen";
}

TEST(Codec, GbkWideUtf8AndBase64) {
    TextCodec codec;
    EXPECT_EQ(codec.from_gbk("ip \xD6\xD0\xB9\xFA"), L"ip \x4E2D\x56FD");  // 中国
    EXPECT_EQ(codec.to_gbk(L"\x4E2D\x56FD."), "\xD6\xD0\xB9\xFA.");
    EXPECT_EQ(codec.from_gbk("a\xFF" "b"), L"a?b") << "a byte GBK has no character for";
    EXPECT_EQ(codec.from_gbk("a\xD6"), L"a?") << "a lead byte at the end";
    EXPECT_EQ(codec.to_gbk(L"a\x1F600"), "a?") << "a character GBK lacks";
    EXPECT_EQ(to_utf8(L"\x4E2D" L"a"), "\xe4\xb8\xad" "a");
    EXPECT_EQ(from_utf8("\xe4\xb8\xad\xc0\xaf"), L"\x4E2D??") << "an overlong form";
    EXPECT_EQ(text_width(L"a\x4E2D"), 3);
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
}

}  // namespace
