// What a person's keys and clicks do to the controls, as a display back end
// hands them over (display.h): the list box's caret, selection and view,
// the edit's caret keys over GBK text, keys posted to a dialog reaching its
// focus, the message box's keys, and the focus a dialog takes back.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "leak_check.h"
#include "user_stand_in.h"

namespace {

// The program's dialogs and the controls looked at here.
constexpr int kMainDialog = 106, kResultsDialog = 101, kQuery = 1001, kInput = 1002;
constexpr WPARAM kShift = 0x10, kCtrl = 0x11, kSpace = 0x20, kPrior = 0x21, kNext = 0x22,
                 kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28, kDelete = 0x2E,
                 kTab = 0x09, kReturn = 0x0D, kEscape = 0x1B;

// Carries out what was posted to this thread.
void Pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

// One keystroke posted to hwnd, wrapped in Shift and Ctrl when asked, as
// the back ends post it; the character it types, if any.
void PostKey(HWND hwnd, WPARAM vk, bool shift = false, bool ctrl = false, int ch = -1) {
    if (shift) PostMessageA(hwnd, WM_KEYDOWN, kShift, 1);
    if (ctrl) PostMessageA(hwnd, WM_KEYDOWN, kCtrl, 1);
    PostMessageA(hwnd, WM_KEYDOWN, vk, 1);
    if (ch >= 0) PostMessageA(hwnd, WM_CHAR, static_cast<WPARAM>(ch), 1);
    PostMessageA(hwnd, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    if (ctrl) PostMessageA(hwnd, WM_KEYUP, kCtrl, static_cast<LPARAM>(0xC0000001u));
    if (shift) PostMessageA(hwnd, WM_KEYUP, kShift, static_cast<LPARAM>(0xC0000001u));
}

HWND Popup(const char *cls = "Static") {
    return CreateWindowExA(0, cls, "parent", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                           nullptr, nullptr, nullptr);
}

HWND Child(HWND parent, const char *cls, DWORD style, int id, int cy = 190) {
    return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 290, cy, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

// ---- the list box ----

struct ListStep {
    std::function<void(HWND list)> input;
};

ListStep Key(WPARAM vk, bool shift = false, bool ctrl = false) {
    return {[=](HWND list) { PostKey(list, vk, shift, ctrl); }};
}
ListStep ClickRow(int row, WPARAM flags = 0) {
    return {[=](HWND list) {
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | flags, MAKELPARAM(3, row));
        PostMessageA(list, WM_LBUTTONUP, flags, MAKELPARAM(3, row));
    }};
}
ListStep WheelNotches(int notches) {
    return {[=](HWND list) {
        PostMessageA(list, WM_MOUSEWHEEL,
                     MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(notches * WHEEL_DELTA))), 0);
    }};
}

std::set<int> Selected(HWND list) {
    std::vector<int> items(64);
    LRESULT n = SendMessageA(list, LB_GETSELITEMS, items.size(), reinterpret_cast<LPARAM>(items.data()));
    return std::set<int>(items.begin(), items.begin() + (n < 0 ? 0 : n));
}

// Ten lines, four shown at once.
TEST(ListInput, KeysClicksAndTheWheelMoveTheCaretSelectionAndView) {
    LeakCheck leaks;
    struct Row {
        const char *name;
        std::vector<ListStep> steps;
        std::set<int> selected;
        size_t caret, top;
    } rows[] = {
        {"Down twice selects only the caret line", {Key(kDown), Key(kDown)}, {2}, 2, 0},
        {"Shift+Down selects from the anchor", {Key(kDown), Key(kDown, true), Key(kDown, true)},
         {1, 2, 3}, 3, 0},
        {"Shift+Up after Shift+Down shrinks the range",
         {Key(kDown), Key(kDown, true), Key(kDown, true), Key(kUp, true)}, {1, 2}, 2, 0},
        {"Ctrl moves the caret alone, Space toggles",
         {Key(kSpace), Key(kDown, false, true), Key(kDown, false, true), Key(kSpace)}, {0, 2}, 2, 0},
        {"Space twice leaves the line unselected", {Key(kSpace), Key(kSpace)}, {}, 0, 0},
        {"PageDown moves a page less one and scrolls", {Key(kNext), Key(kNext)}, {6}, 6, 3},
        {"PageUp comes back", {Key(kNext), Key(kNext), Key(kPrior)}, {3}, 3, 3},
        {"End shows the last page", {Key(kEnd)}, {9}, 9, 6},
        {"Home after End", {Key(kEnd), Key(kHome)}, {0}, 0, 0},
        {"Up on the first line stays", {Key(kUp)}, {0}, 0, 0},
        {"Shift+End selects to the end", {Key(kEnd, true)}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 9, 6},
        {"a click selects the line in that row", {ClickRow(2)}, {2}, 2, 0},
        {"Ctrl+click adds a line", {ClickRow(1), ClickRow(3, MK_CONTROL)}, {1, 3}, 3, 0},
        {"Ctrl+click takes a line away", {ClickRow(1), ClickRow(1, MK_CONTROL)}, {}, 1, 0},
        {"Shift+click selects from the anchor",
         {ClickRow(1), ClickRow(3, MK_CONTROL), ClickRow(2, MK_SHIFT)}, {2, 3}, 2, 0},
        {"a click in a row past the page does nothing", {ClickRow(4)}, {}, 0, 0},
        {"the wheel scrolls three lines a notch, not the caret", {WheelNotches(-1)}, {}, 0, 3},
        {"the wheel stops at the last page", {WheelNotches(-5)}, {}, 0, 6},
        {"the wheel back up", {WheelNotches(-1), WheelNotches(2)}, {}, 0, 0},
        {"a click after the wheel picks the line shown there", {WheelNotches(-1), ClickRow(1)},
         {4}, 4, 3},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        HWND parent = Popup();
        HWND list = Child(parent, "ListBox", LBS_EXTENDEDSEL | WS_BORDER, 1003);
        for (int i = 0; i < 10; ++i) {
            const std::string line = "line " + std::to_string(i);
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        }
        PostMessageA(list, compat::display::kListPage, 4, 0);
        Pump();
        for (const ListStep &step : row.steps) {
            step.input(list);
            Pump();
        }
        compat::display::ListView view;
        ASSERT_TRUE(compat::display::read_list_view(list, &view));
        EXPECT_EQ(Selected(list), row.selected);
        EXPECT_EQ(view.caret, row.caret);
        EXPECT_EQ(view.top, row.top);
        DestroyWindow(parent);
    }
}

// A click focuses the list; lines added above the caret leave it on its
// line; the parent hears of the person's selection (LBS_NOTIFY).
TEST(ListInput, TheCaretStaysOnItsLineAndTheParentHearsOfSelections) {
    LeakCheck leaks;
    HWND parent = Popup();
    HWND list = Child(parent, "ListBox", LBS_EXTENDEDSEL | LBS_SORT | LBS_NOTIFY, 1003);
    for (const char *line : {"m", "n"})
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    static int notices;
    notices = 0;
    static WNDPROC original;
    original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(parent, GWLP_WNDPROC));
    SetWindowLongPtrA(parent, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                          if (m == WM_COMMAND && LOWORD(w) == 1003 && HIWORD(w) == 1) ++notices;
                          return CallWindowProcA(original, h, m, w, l);
                      }));
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, 1));
    Pump();
    EXPECT_EQ(GetFocus(), list);
    EXPECT_EQ(notices, 1);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a"));
    compat::display::ListView view;
    ASSERT_TRUE(compat::display::read_list_view(list, &view));
    EXPECT_EQ(view.caret, 2u) << "still on \"n\"";
    EXPECT_EQ(Selected(list), (std::set<int>{2}));
    PostKey(list, kUp);
    Pump();
    EXPECT_EQ(Selected(list), (std::set<int>{1}));
    EXPECT_EQ(notices, 2);
    DestroyWindow(parent);
}

// ---- the edit ----

struct EditStep {
    WPARAM vk;      // a key, or 0
    int ch;         // a typed character, or -1
    bool ctrl;
    long set_caret; // EM_SETSEL there first, or -1
};
EditStep K(WPARAM vk, bool ctrl = false) { return {vk, -1, ctrl, -1}; }
EditStep C(char ch) { return {0, static_cast<unsigned char>(ch), false, -1}; }
EditStep At(long offset) { return {0, -1, false, offset}; }

// "中" is D6 D0 and "文" CE C4 in GBK.
TEST(EditInput, CaretKeysAndDeletionKeepWholeCharacters) {
    LeakCheck leaks;
    struct Row {
        const char *name;
        std::string text;
        std::vector<EditStep> steps;
        std::string after;
        DWORD caret;
    } rows[] = {
        {"Left over a GBK character takes both bytes", "a\xD6\xD0", {K(kLeft)}, "a\xD6\xD0", 1},
        {"Backspace takes a whole GBK character", "a\xD6\xD0", {C('\b')}, "a", 1},
        {"Backspace takes CR LF at once", "a\r\nb", {K(kLeft), C('\b')}, "ab", 1},
        {"Right over CR LF", "a\r\nb", {At(1), K(kRight)}, "a\r\nb", 3},
        {"Up keeps the column", "abc\r\nde", {K(kUp)}, "abc\r\nde", 2},
        {"Down to a shorter line ends at its end", "abc\r\nde", {At(3), K(kDown)}, "abc\r\nde", 7},
        {"Up into a GBK character starts at the character",
         "\xD6\xD0\xCE\xC4\r\nabc", {K(kUp)}, "\xD6\xD0\xCE\xC4\r\nabc", 2},
        {"Home and End of the line", "ab\r\ncd", {K(kHome)}, "ab\r\ncd", 4},
        {"Ctrl+Home and Ctrl+End of the text", "ab\r\ncd", {K(kHome, true)}, "ab\r\ncd", 0},
        {"End after Ctrl+Home", "ab\r\ncd", {K(kHome, true), K(kEnd)}, "ab\r\ncd", 2},
        {"Delete takes the character after the caret", "a\xD6\xD0" "b", {At(1), K(kDelete)},
         "ab", 1},
        {"typing goes in at the caret", "ac", {At(1), C('b')}, "abc", 2},
        {"Enter is a line break", "ab", {At(1), C('\r')}, "a\r\nb", 3},
        {"EM_SETSEL inside a character goes to its start", "\xD6\xD0", {At(1)}, "\xD6\xD0", 0},
        {"EM_SETSEL past the end goes to the end", "ab", {At(40)}, "ab", 2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        HWND parent = Popup();
        HWND edit = Child(parent, "Edit", ES_MULTILINE | ES_WANTRETURN, 1002);
        SetWindowTextA(edit, row.text.c_str());
        for (const EditStep &s : row.steps) {
            if (s.set_caret >= 0) PostMessageA(edit, EM_SETSEL, s.set_caret, s.set_caret);
            if (s.vk) PostKey(edit, s.vk, false, s.ctrl);
            if (s.ch >= 0) PostMessageA(edit, WM_CHAR, static_cast<WPARAM>(s.ch), 1);
            Pump();
        }
        char text[64] = "";
        GetWindowTextA(edit, text, sizeof text);
        EXPECT_EQ(std::string(text), row.after);
        DWORD start = 99, end = 99;
        SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(end, row.caret);
        std::string seen;
        size_t caret = 0;
        ASSERT_TRUE(compat::display::read_edit(edit, &seen, &caret));
        EXPECT_EQ(seen, row.after);
        EXPECT_EQ(caret, row.caret);
        DestroyWindow(parent);
    }
}

// ---- focus ----

// A keystroke posted to a dialog goes to the focus the thread has when it
// takes the keystroke, not when it was posted.
TEST(Focus, KeysPostedToADialogReachTheFocusWhenTaken) {
    LeakCheck leaks;
    HWND dlg = Popup("#32770");
    HWND a = Child(dlg, "Edit", 0, 1, 20);
    HWND b = Child(dlg, "Edit", 0, 2, 20);
    SetFocus(a);
    PostMessageA(dlg, WM_CHAR, 'x', 1);
    SetFocus(b);
    Pump();
    char text[8] = "";
    GetWindowTextA(a, text, sizeof text);
    EXPECT_STREQ(text, "");
    GetWindowTextA(b, text, sizeof text);
    EXPECT_STREQ(text, "x");
    EXPECT_EQ(compat::display::focus_of(GetCurrentThreadId()), b);
    DestroyWindow(dlg);
    EXPECT_EQ(compat::display::focus_of(GetCurrentThreadId()), nullptr);
}

INT_PTR CALLBACK PlainDialog(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// Activated again, a dialog gives the focus back to the control that had
// it; one whose control is gone starts again at its first tab stop.
TEST(Focus, AnActivatedDialogTakesItsFocusBack) {
    LeakCheck leaks;
    HWND main = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kMainDialog), nullptr, PlainDialog, 0);
    ASSERT_NE(main, nullptr);
    HWND input = GetDlgItem(main, kInput);
    EXPECT_EQ(GetFocus(), GetDlgItem(main, kQuery)) << "the first tab stop";
    SetFocus(input);
    HWND other = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kResultsDialog), nullptr, PlainDialog, 0);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(GetFocus(), GetDlgItem(other, IDCANCEL));
    PostMessageA(main, WM_ACTIVATE, WA_ACTIVE, 0);
    Pump();
    EXPECT_EQ(GetFocus(), input);
    PostMessageA(other, WM_ACTIVATE, WA_ACTIVE, 0);
    Pump();
    EXPECT_EQ(GetFocus(), GetDlgItem(other, IDCANCEL));
    DestroyWindow(other);
    DestroyWindow(main);
}

// ---- the message box's keys ----

// The box's thread shows it; this thread, the person, posts keys to the
// box, which hands them to its focused button.
TEST(MessageBoxKeys, TabArrowsEnterAndEsc) {
    LeakCheck leaks;
    struct Row {
        const char *name;
        UINT type;
        std::vector<WPARAM> keys;
        int answer;
    } rows[] = {
        {"Enter presses the first button", MB_YESNO, {kReturn}, IDYES},
        {"Tab moves to the next button", MB_YESNO, {kTab, kReturn}, IDNO},
        {"the arrows move too, round the end", MB_OKCANCEL, {kDown, kDown, kReturn}, IDOK},
        {"Left from the first goes to the last", MB_YESNOCANCEL, {kLeft, kReturn}, IDCANCEL},
        {"Esc is Cancel", MB_OKCANCEL, {kEscape}, IDCANCEL},
        {"Esc in a box of OK alone is OK", MB_OK, {kEscape}, IDOK},
        {"Esc where there is no Cancel does nothing", MB_YESNO, {kEscape, kTab, kReturn}, IDNO},
        {"Space presses the focused button", MB_YESNO, {kTab, kSpace}, IDNO},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        int answer = 0;
        std::thread shows([&] { answer = MessageBoxA(nullptr, "text", "caption", row.type); });
        MessageBoxSeen seen;
        ASSERT_TRUE(WaitForMessageBox(&seen));
        for (WPARAM vk : row.keys) PostKey(seen.box, vk, false, false, vk == kSpace ? ' ' : -1);
        shows.join();
        EXPECT_EQ(answer, row.answer);
    }
}

// ---- the clipboard's notice ----

class ChangeLog : public compat::display::Backend {
public:
    void window_changed(HWND, compat::display::Change change) override {
        if (change == compat::display::Change::Clipboard) ++clipboard;
    }
    std::atomic<int> clipboard{0};
};

TEST(ClipboardNotice, TheDisplayHearsOfNewTextOnceTheClipboardCloses) {
    LeakCheck leaks;
    ChangeLog log;
    compat::display::Backend *before = compat::display::set_backend(&log);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
    memcpy(GlobalLock(block), "ab\r\n", 4);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    EXPECT_EQ(log.clipboard, 0) << "not while it is open";
    CloseClipboard();
    EXPECT_EQ(log.clipboard, 1);
    std::string text;
    EXPECT_TRUE(compat::display::read_clipboard_text(&text));
    EXPECT_EQ(text, "ab\r\n");
    ASSERT_TRUE(OpenClipboard(nullptr));
    CloseClipboard();
    EXPECT_EQ(log.clipboard, 1) << "opened and closed without a change";
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    EXPECT_EQ(log.clipboard, 2);
    EXPECT_FALSE(compat::display::read_clipboard_text(&text));
    compat::display::set_backend(before);
}

}  // namespace
