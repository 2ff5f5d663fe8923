// Windows: relations, text through the window's messages, state, destruction
// and enumeration.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "leak_check.h"
#include "window_spy.h"

namespace {

HWND Popup(const char *text, HWND owner = nullptr, DWORD style = WS_POPUP) {
    return CreateWindowExA(0, "STATIC", text, style, 0, 0, 100, 100, owner, nullptr, nullptr,
                           nullptr);
}

HWND Child(HWND parent, const char *cls, int id, DWORD style = 0) {
    return CreateWindowExA(0, cls, "", WS_CHILD | style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

std::string ClassOf(HWND h) {
    char name[64] = "";
    GetClassNameA(h, name, sizeof name);
    return name;
}

TEST(Windows, Relations) {
    LeakCheck leaks;
    HWND top = Popup("top");
    ASSERT_NE(top, nullptr);
    HWND list = Child(top, "LISTBOX", 1003, LBS_SORT);
    HWND label = Child(top, "static", 5);
    HWND grandchild = Child(label, "Static", 7);
    HWND owned = Popup("owned", list);  // a child as owner stands for its top-level window
    ASSERT_TRUE(list && label && grandchild && owned);

    EXPECT_EQ(GetDlgItem(top, 1003), list);
    EXPECT_EQ(GetDlgItem(top, 5), label);
    EXPECT_EQ(GetDlgItem(top, 7), nullptr) << "GetDlgItem looks at direct children only";
    EXPECT_EQ(GetDlgCtrlID(list), 1003);
    EXPECT_EQ(GetWindowLongA(list, GWL_ID), 1003);
    EXPECT_EQ(GetParent(list), top);
    EXPECT_EQ(GetParent(grandchild), label);
    EXPECT_EQ(GetParent(owned), top) << "a pop-up's GetParent is its owner";
    EXPECT_EQ(GetWindow(owned, GW_OWNER), top);
    EXPECT_EQ(GetWindow(list, GW_OWNER), nullptr);
    EXPECT_EQ(GetWindow(top, GW_CHILD), list);
    EXPECT_EQ(GetWindow(list, GW_HWNDNEXT), label);
    EXPECT_EQ(GetWindow(label, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(ClassOf(list), "ListBox");
    EXPECT_EQ(ClassOf(label), "Static");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(list, GWL_STYLE)) & (WS_CHILD | LBS_SORT),
              static_cast<DWORD>(WS_CHILD | LBS_SORT));
    DWORD process = 0;
    EXPECT_EQ(GetWindowThreadProcessId(list, &process), GetCurrentThreadId());
    EXPECT_NE(process, 0u);

    EXPECT_EQ(SetWindowLongPtrA(top, GWLP_USERDATA, 42), 0);
    EXPECT_EQ(GetWindowLongPtrA(top, GWLP_USERDATA), 42);

    EXPECT_TRUE(DestroyWindow(top));
    for (HWND h : {top, list, label, grandchild, owned}) EXPECT_FALSE(IsWindow(h));
}

TEST(Windows, CreationFailures) {
    LeakCheck leaks;
    HWND gone = Popup("gone");
    DestroyWindow(gone);
    struct Case {
        const char *name;
        const char *cls;
        DWORD style;
        HWND parent;
    } cases[] = {
        {"unknown class", "NoSuchClass", WS_POPUP, nullptr},
        {"child without a parent", "STATIC", WS_CHILD, nullptr},
        {"destroyed parent", "STATIC", WS_CHILD, gone},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CreateWindowExA(0, c.cls, "", c.style, 0, 0, 1, 1, c.parent, nullptr, nullptr,
                                  nullptr),
                  nullptr)
            << c.name;
}

TEST(Windows, TextGoesThroughTheWindowsMessages) {
    LeakCheck leaks;
    HWND top = Popup("first");
    HWND label = Child(top, "STATIC", 9);
    WindowSpy spy;
    spy.Watch(label);

    EXPECT_EQ(GetWindowTextLengthA(top), 5);
    EXPECT_TRUE(SetDlgItemTextA(top, 9, "\xbe\xaf\xb8\xe6 warning"));
    char buffer[32];
    EXPECT_EQ(GetDlgItemTextA(top, 9, buffer, sizeof buffer), 12u);
    EXPECT_STREQ(buffer, "\xbe\xaf\xb8\xe6 warning");
    EXPECT_EQ(GetWindowTextA(label, buffer, 5), 4) << "cut to the buffer, zero included";
    EXPECT_STREQ(buffer, "\xbe\xaf\xb8\xe6");
    EXPECT_EQ(GetDlgItemTextA(top, 99, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "") << "a missing item gives an empty text";

    EXPECT_EQ(spy.CallsOf(WM_SETTEXT).size(), 1u);
    EXPECT_EQ(spy.CallsOf(WM_GETTEXT).size(), 2u);
    DestroyWindow(top);
}

TEST(Windows, EnabledAndVisible) {
    LeakCheck leaks;
    HWND top = Popup("top");
    HWND child = Child(top, "STATIC", 1, WS_VISIBLE);
    WindowSpy spy;
    spy.Watch(top);

    EXPECT_TRUE(IsWindowEnabled(top));
    EXPECT_FALSE(EnableWindow(top, FALSE)) << "returns whether it was disabled before";
    EXPECT_FALSE(IsWindowEnabled(top));
    EXPECT_TRUE(static_cast<DWORD>(GetWindowLongA(top, GWL_STYLE)) & WS_DISABLED);
    EXPECT_TRUE(EnableWindow(top, FALSE));
    EXPECT_TRUE(EnableWindow(top, TRUE));
    EXPECT_TRUE(IsWindowEnabled(top));
    EXPECT_EQ(spy.CallsOf(WM_ENABLE).size(), 2u) << "WM_ENABLE only when the state changes";

    EXPECT_FALSE(IsWindowVisible(child)) << "a visible child of a hidden window is hidden";
    EXPECT_FALSE(ShowWindow(top, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(top, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(top));
    DestroyWindow(top);
}

TEST(Windows, DestroyOrder) {
    LeakCheck leaks;
    HWND top = Popup("top");
    HWND child = Child(top, "STATIC", 1);
    HWND grandchild = Child(child, "STATIC", 2);
    HWND owned = Popup("owned", top);
    WindowSpy spy;
    for (HWND h : {top, child, grandchild, owned}) spy.Watch(h);

    ASSERT_TRUE(DestroyWindow(top));
    std::vector<std::pair<HWND, UINT>> got;
    for (const WindowSpy::Call &c : spy.Calls())
        if (c.msg == WM_DESTROY || c.msg == WM_NCDESTROY) got.emplace_back(c.hwnd, c.msg);
    // Owned windows go first; WM_DESTROY runs from the top down, and each
    // window's WM_NCDESTROY comes after its children are gone.
    std::vector<std::pair<HWND, UINT>> expected = {
        {owned, WM_DESTROY},        {owned, WM_NCDESTROY},      {top, WM_DESTROY},
        {child, WM_DESTROY},        {grandchild, WM_DESTROY},   {grandchild, WM_NCDESTROY},
        {child, WM_NCDESTROY},      {top, WM_NCDESTROY},
    };
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(DestroyWindow(top)) << "a destroyed window is no window";
}

DWORD WINAPI TryDestroy(LPVOID param) {
    return DestroyWindow(static_cast<HWND>(param)) ? 1 : GetLastError();
}

TEST(Windows, OnlyTheOwnerThreadDestroys) {
    LeakCheck leaks;
    HWND top = Popup("top");
    HANDLE t = CreateThread(nullptr, 0, TryDestroy, top, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    CloseHandle(t);
    EXPECT_EQ(code, 5u) << "ERROR_ACCESS_DENIED";
    EXPECT_TRUE(IsWindow(top));
    DestroyWindow(top);
}

BOOL CALLBACK Collect(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND> *>(lp)->push_back(h);
    return TRUE;
}

BOOL CALLBACK StopAtFirst(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND> *>(lp)->push_back(h);
    return FALSE;
}

TEST(Windows, Enumeration) {
    LeakCheck leaks;
    HWND a = Popup("a");
    HWND a1 = Child(a, "STATIC", 1);
    HWND a11 = Child(a1, "STATIC", 2);
    HWND a2 = Child(a, "STATIC", 3);
    HWND b = Popup("b", a);

    auto only = [&](std::vector<HWND> v) {  // ours, whatever else exists
        std::vector<HWND> mine;
        for (HWND h : v)
            if (h == a || h == a1 || h == a11 || h == a2 || h == b) mine.push_back(h);
        return mine;
    };
    std::vector<HWND> got;
    EXPECT_TRUE(EnumWindows(Collect, reinterpret_cast<LPARAM>(&got)));
    EXPECT_EQ(only(got), (std::vector<HWND>{a, b})) << "top-level windows, in creation order";
    got.clear();
    EnumChildWindows(a, Collect, reinterpret_cast<LPARAM>(&got));
    EXPECT_EQ(got, (std::vector<HWND>{a1, a11, a2})) << "every descendant, depth first";
    got.clear();
    EXPECT_FALSE(EnumChildWindows(a, StopAtFirst, reinterpret_cast<LPARAM>(&got)));
    EXPECT_EQ(got.size(), 1u);
    got.clear();
    EXPECT_TRUE(EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&got)));
    EXPECT_EQ(only(got), (std::vector<HWND>{a, b}));

    DestroyWindow(a);
}

}  // namespace
