// Dialogs from the program's own templates, their keys and controls, pop-up
// menus, icons and the Save As dialog.
#include <commdlg.h>
#include <compat_seams.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "leak_check.h"

namespace {

constexpr int kMain = 106, kResults = 101, kMenu = 103;
constexpr int kQuery = 1001, kAbout = 1000, kInput = 1002, kList = 1003;
constexpr UINT kStep = WM_USER + 50;
constexpr WPARAM kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kEscape = 0x1B;

std::string TextOf(HWND h) {
    char text[512] = "";
    GetWindowTextA(h, text, sizeof text);
    return text;
}

// Waits (on the change count) for a top-level window of the class, with
// the title when one is given.
HWND WaitForWindow(const char *cls, const char *title = nullptr) {
    for (int round = 0; round < 100; ++round) {
        unsigned long seen = CompatWindowChangeCount();
        for (HWND h : compat::display::windows_under(nullptr)) {
            compat::display::WindowSnapshot s;
            if (compat::display::snapshot(h, &s) && s.class_name == cls &&
                (!title || s.text == title) && (s.style & WS_VISIBLE))
                return h;
        }
        CompatWaitWindowChange(seen, 100);
    }
    return nullptr;
}

// A keyboard script: each step posts one key message to the focused
// window, as a keyboard would, and the commands the dialog gets are kept.
struct Key {
    UINT msg;
    WPARAM wp;
};
struct Script {
    std::vector<Key> keys;
    size_t next = 0;
    std::vector<WORD> commands;
    HWND first_focus = nullptr;
    std::string input_text;
};
Script *script = nullptr;

INT_PTR CALLBACK ScriptProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        PostMessageA(dlg, kStep, 0, 0);
        return TRUE;
    case kStep:
        if (script->next == 1) script->first_focus = GetFocus();
        if (script->next < script->keys.size()) {
            const Key &k = script->keys[script->next++];
            PostMessageA(GetFocus(), k.msg, k.wp, 0);
            PostMessageA(dlg, kStep, 0, 0);
        }
        return TRUE;
    case WM_COMMAND:
        script->commands.push_back(LOWORD(wp));
        if (LOWORD(wp) == IDCANCEL) {
            script->input_text = TextOf(GetDlgItem(dlg, kInput));
            EndDialog(dlg, 77);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

Key Down(WPARAM vk) { return {WM_KEYDOWN, vk}; }
Key Char(char c) { return {WM_CHAR, static_cast<WPARAM>(c)}; }

TEST(Dialogs, KeysOfTheMainDialog) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        std::vector<Key> keys;
        std::vector<WORD> commands;
        std::string text;
    } cases[] = {
        {"Esc cancels", {Down(kEscape)}, {IDCANCEL}, ""},
        {"Enter on the first control presses the default button",
         {Down(kReturn), Down(kEscape)}, {kQuery, IDCANCEL}, ""},
        {"Tab twice reaches the edit, Enter there breaks the line",
         {Down(kTab), Down(kTab), Char('a'), Down(kReturn), Char('\r'), Char('b'), Down(kEscape)},
         {IDCANCEL}, "a\r\nb"},
        {"Backspace removes a whole line break",
         {Down(kTab), Down(kTab), Char('a'), Char('\r'), Char('\b'), Char('c'), Down(kEscape)},
         {IDCANCEL}, "ac"},
        {"Shift-Tab goes back and wraps",
         {Down(kShift), Down(kTab), {WM_KEYUP, kShift}, Char('z'), Down(kShift), Down(kTab),
          {WM_KEYUP, kShift}, Down(kReturn), Down(kEscape)},
         {kAbout, IDCANCEL}, "z"},
    };
    for (const Case &c : cases) {
        Script s;
        s.keys = c.keys;
        script = &s;
        INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kMain),
                                         nullptr, ScriptProc, 0);
        script = nullptr;
        EXPECT_EQ(result, 77) << c.name;
        EXPECT_EQ(s.commands, c.commands) << c.name;
        EXPECT_EQ(s.input_text, c.text) << c.name;
    }
}

struct Recorder {
    std::vector<UINT> msgs;
    std::vector<WPARAM> wps;
    std::vector<LPARAM> lps;
};
Recorder *recorder = nullptr;

INT_PTR CALLBACK RecordProc(HWND, UINT msg, WPARAM wp, LPARAM lp) {
    if (recorder && (msg == WM_COMMAND || msg == WM_CONTEXTMENU || msg == WM_INITDIALOG)) {
        recorder->msgs.push_back(msg);
        recorder->wps.push_back(wp);
        recorder->lps.push_back(lp);
    }
    return msg == WM_INITDIALOG || msg == WM_CONTEXTMENU;
}

void Pump(HWND dlg) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
        if (!IsDialogMessageA(dlg, &m)) DispatchMessageA(&m);
}

TEST(Dialogs, ModelessDialogAndDisabledInput) {
    LeakCheck leaks;
    Recorder rec;
    recorder = &rec;
    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kMain), nullptr, RecordProc, 5);
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(rec.msgs.size(), 1u);
    EXPECT_EQ(rec.lps[0], 5);
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kQuery)) << "focus goes to the first tab stop";
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(TextOf(GetDlgItem(dlg, kQuery)), "查询");

    HWND about = GetDlgItem(dlg, kAbout), input = GetDlgItem(dlg, kInput);
    SendMessageA(about, BM_CLICK, 0, 0);
    PostMessageA(about, WM_LBUTTONDOWN, 0, 0);
    PostMessageA(about, WM_LBUTTONUP, 0, 0);
    Pump(dlg);
    ASSERT_EQ(rec.msgs.size(), 3u);
    EXPECT_EQ(rec.wps[1], MAKEWPARAM(kAbout, BN_CLICKED));
    EXPECT_EQ(rec.lps[1], reinterpret_cast<LPARAM>(about));
    EXPECT_EQ(rec.wps[2], MAKEWPARAM(kAbout, BN_CLICKED));

    SetWindowTextA(input, "1.2.3.4\n5.6.7.8");
    EXPECT_EQ(TextOf(input), "1.2.3.4\r\n5.6.7.8") << "bare LF is stored as CR LF";

    EnableWindow(dlg, FALSE);
    SendMessageA(about, BM_CLICK, 0, 0);
    PostMessageA(about, WM_LBUTTONDOWN, 0, 0);
    PostMessageA(about, WM_LBUTTONUP, 0, 0);
    PostMessageA(input, WM_CHAR, 'x', 0);
    PostMessageA(GetFocus(), WM_KEYDOWN, kReturn, 0);
    Pump(dlg);
    EXPECT_EQ(rec.msgs.size(), 3u) << "a disabled dialog takes no clicks or keys";
    EXPECT_EQ(TextOf(input), "1.2.3.4\r\n5.6.7.8");

    EnableWindow(dlg, TRUE);
    PostMessageA(input, WM_CHAR, 'x', 0);
    Pump(dlg);
    EXPECT_EQ(TextOf(input), "1.2.3.4\r\n5.6.7.8x");
    EndDialog(dlg, 0);
    EXPECT_FALSE(IsWindowVisible(dlg)) << "EndDialog hides a modeless dialog";
    EXPECT_TRUE(IsWindow(dlg));
    DestroyWindow(dlg);
    recorder = nullptr;
}

TEST(Dialogs, RightClickBecomesContextMenuOfTheDialog) {
    LeakCheck leaks;
    Recorder rec;
    recorder = &rec;
    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kResults), nullptr, RecordProc, 0);
    ASSERT_NE(dlg, nullptr);
    HWND list = GetDlgItem(dlg, kList);
    RECT d, l;
    compat::display::WindowSnapshot s;
    ASSERT_TRUE(compat::display::snapshot(dlg, &s));
    d = s.rect;
    ASSERT_TRUE(compat::display::snapshot(list, &s));
    l = s.rect;
    EXPECT_EQ(d.left, (1024 - 298) / 2) << "DS_CENTER";

    PostMessageA(list, WM_RBUTTONUP, 0, MAKELPARAM(5, 7));
    PostMessageA(GetFocus(), WM_KEYDOWN, 0x5D /* VK_APPS */, 0);
    Pump(dlg);
    ASSERT_EQ(rec.msgs.size(), 3u);
    EXPECT_EQ(rec.msgs[1], static_cast<UINT>(WM_CONTEXTMENU));
    EXPECT_EQ(rec.wps[1], reinterpret_cast<WPARAM>(list));
    EXPECT_EQ(static_cast<short>(LOWORD(rec.lps[1])), d.left + l.left + 5);
    EXPECT_EQ(static_cast<short>(HIWORD(rec.lps[1])), d.top + l.top + 7);
    EXPECT_EQ(rec.msgs[2], static_cast<UINT>(WM_CONTEXTMENU));
    EXPECT_EQ(static_cast<short>(LOWORD(rec.lps[2])), -1) << "the keyboard's menu key";
    EXPECT_EQ(static_cast<short>(HIWORD(rec.lps[2])), -1);
    DestroyWindow(dlg);
    recorder = nullptr;
}

TEST(Dialogs, MissingTemplateAndIcons) {
    LeakCheck leaks;
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(999), nullptr, RecordProc, 0), -1);
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(999), nullptr, RecordProc, 0), nullptr);
    HICON small_icon = LoadIconA(nullptr, MAKEINTRESOURCEA(104));
    HICON big_icon = LoadIconA(nullptr, MAKEINTRESOURCEA(105));
    ASSERT_NE(small_icon, nullptr);
    EXPECT_NE(small_icon, big_icon);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(104)), small_icon) << "stable token";
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(999)), nullptr);

    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kMain), nullptr, RecordProc, 0);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(SendMessageA(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon)), 0);
    EXPECT_EQ(SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon)), 0);
    EXPECT_EQ(SendMessageA(dlg, WM_SETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(small_icon));
    DestroyWindow(dlg);
}

TEST(Menus, TemplateTree) {
    LeakCheck leaks;
    HMENU menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(kMenu));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    HMENU sub = GetSubMenu(menu, 0);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(GetMenuItemCount(sub), 1);
    EXPECT_EQ(GetMenuItemID(sub, 0), 40000u);
    char text[32] = "";
    EXPECT_EQ(GetMenuStringA(sub, 40000, text, sizeof text, MF_BYCOMMAND), 4);
    EXPECT_STREQ(text, "复制");
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_EQ(GetMenuItemCount(sub), -1) << "the whole tree goes";
    EXPECT_EQ(LoadMenuA(nullptr, MAKEINTRESOURCEA(999)), nullptr);
}

// Another thread plays the user: it waits for the pop-up, sends the owner a
// message (carried out inside the menu's loop), then chooses or cancels.
TEST(Menus, TrackPopupMenuChooseAndCancel) {
    LeakCheck leaks;
    for (bool choose : {true, false}) {
        HWND owner = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kResults), nullptr, RecordProc, 0);
        ASSERT_NE(owner, nullptr);
        HMENU menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(kMenu));
        std::vector<compat::display::MenuLine> lines;
        LRESULT sent = 0;
        std::thread user([&] {
            HWND popup = WaitForWindow("#32768");
            if (!popup) return;
            compat::display::read_menu(popup, &lines);
            sent = SendMessageA(owner, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("sent"));
            if (choose)
                PostMessageA(popup, compat::display::kMenuChoose, 0, 0);
            else
                PostMessageA(popup, WM_KEYDOWN, kEscape, 0);
        });
        BOOL r = TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, 10, 20, 0, owner, nullptr);
        user.join();
        EXPECT_EQ(r, choose ? TRUE : FALSE);
        EXPECT_EQ(sent, TRUE);
        EXPECT_EQ(TextOf(owner), "sent");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "复制");
        EXPECT_EQ(lines[0].id, 40000u);
        MSG m;
        BOOL posted = PeekMessageA(&m, owner, WM_COMMAND, WM_COMMAND, PM_REMOVE);
        EXPECT_EQ(posted, choose ? TRUE : FALSE);
        if (posted) {
            EXPECT_EQ(LOWORD(m.wParam), 40000);
        }
        for (HWND h : compat::display::windows_under(nullptr)) {
            char cls[16] = "";
            GetClassNameA(h, cls, sizeof cls);
            EXPECT_STRNE(cls, "#32768") << "the pop-up is gone";
        }
        DestroyMenu(menu);
        DestroyWindow(owner);
    }
}

// The Save As dialog, answered from another thread.
struct SaveCase {
    const char *name;
    const char *initial;
    std::string typed;   // empty: keep the initial name
    bool exists;
    std::vector<int> answers;  // to the overwrite question, in order
    bool cancel;
    BOOL result;
    DWORD error;
    const char *file;    // lpstrFile afterwards
};

void AnswerSave(const SaveCase &c, const std::string &typed) {
    HWND dlg = WaitForWindow("#32770", "另存为");
    if (!dlg) return;
    HWND edit = GetDlgItem(dlg, 1152);
    if (!typed.empty()) SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    if (c.cancel) {
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    for (int answer : c.answers) {
        HWND box = WaitForWindow("#32770", "确认另存为");
        if (!box) return;
        PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        if (answer == IDNO) {
            // Back in the dialog: wait for the box to go, then cancel.
            for (int i = 0; i < 100 && IsWindow(box); ++i) {
                unsigned long seen = CompatWindowChangeCount();
                if (IsWindow(box)) CompatWaitWindowChange(seen, 100);
            }
            PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
        }
    }
}

TEST(SaveAs, OkCancelTooLongAndOverwrite) {
    LeakCheck leaks;
    char dir[] = "/tmp/qv_save_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string existing = std::string(dir) + "/old.txt";
    const std::string fresh = std::string(dir) + "/new.txt";
    FILE *f = fopen(existing.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    const std::string too_long(40, 'x');
    SaveCase cases[] = {
        {"OK keeps the initial name", "a.txt", "", false, {}, false, TRUE, 0, "a.txt"},
        {"OK with a typed name", "", fresh, false, {}, false, TRUE, 0, fresh.c_str()},
        {"Cancel", "a.txt", "", false, {}, true, FALSE, 0, "a.txt"},
        {"name too long", "", too_long, false, {}, false, FALSE, FNERR_BUFFERTOOSMALL, ""},
        {"overwrite Yes", "", existing, true, {IDYES}, false, TRUE, 0, existing.c_str()},
        {"overwrite No, then Cancel", "", existing, true, {IDNO}, false, FALSE, 0, ""},
    };
    for (const SaveCase &c : cases) {
        HWND owner = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kResults), nullptr, RecordProc, 0);
        char file[32] = "";
        snprintf(file, sizeof file, "%s", c.initial);
        OPENFILENAMEA ofn;
        memset(&ofn, 0, sizeof ofn);
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner;
        ofn.lpstrFile = file;
        ofn.nMaxFile = c.typed == too_long ? 32 : sizeof file;
        ofn.Flags = OFN_OVERWRITEPROMPT;
        std::string typed = c.typed;
        std::thread user([&] { AnswerSave(c, typed); });
        BOOL r = GetSaveFileNameA(&ofn);
        user.join();
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_EQ(CommDlgExtendedError(), c.error) << c.name;
        EXPECT_STREQ(file, c.file) << c.name;
        EXPECT_TRUE(IsWindowEnabled(owner)) << c.name;
        DestroyWindow(owner);
    }
    unlink(existing.c_str());
    rmdir(dir);
}

}  // namespace
