// The windows themselves: the results window's context menu, About, and
// the ways the program ends.
#include <functional>
#include <string>

#include "scenario.h"

namespace e2e {
namespace {

using Windows = Scenario;

// From the list, a button or the window's background, by the mouse at the
// pointer or from the keyboard at (-1, -1): the one item "复制".
TEST_F(Windows, TheContextMenuOpensFromAnywhereInTheResultsWindow) {
    ProgramDriver::Window results = StartRun("1.2.3.4");
    ASSERT_TRUE(program.WaitForLineCount(ListOf(results), 1));
    const Hwnd list = ListOf(results);
    const Hwnd close = program.ChildId(results.hwnd, kIdCancel);
    const Hwnd save = program.ChildId(results.hwnd, kSave);
    struct Case {
        const char *name;
        std::function<std::string()> open;
        long long x, y;
    } cases[] = {
        {"right click on the list", [&] { return program.RightClick(list, 150, 90); }, 150, 90},
        {"right click on Close", [&] { return program.RightClick(close, 600, 420); }, 600, 420},
        {"right click on Save", [&] { return program.RightClick(save, 0, 0); }, 0, 0},
        {"right click on the background", [&] { return program.RightClick(results.hwnd, 5, 7); },
         5, 7},
        {"the context-menu key in the list", [&] { return program.Key(list, "APPS"); }, -1, -1},
        {"Shift+F10 on Close", [&] { return program.Key(close, "SHIFT-F10"); }, -1, -1},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(c.open(), "ok") << c.name;
        ProgramDriver::Menu menu;
        ASSERT_TRUE(program.WaitForMenu(&menu)) << c.name;
        EXPECT_EQ(menu.x, c.x) << c.name;
        EXPECT_EQ(menu.y, c.y) << c.name;
        ASSERT_EQ(menu.items.size(), 1u) << c.name;
        EXPECT_EQ(menu.items[0].id, kCopyCommand) << c.name;
        EXPECT_EQ(menu.items[0].text, "复制") << c.name;
        ASSERT_EQ(program.CancelMenu(), "ok") << c.name;
        ASSERT_TRUE(program.WaitUntil([&] { return !program.OpenMenu(nullptr); })) << c.name;
    }
    ASSERT_TRUE(program.Idle(results.hwnd));
    EXPECT_TRUE(program.FindWindow(kDialogClass, kResultsTitle, nullptr));
    CloseResults(results);
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// About: an information box owned by the main window, which takes no
// input until the box is dismissed.
TEST_F(Windows, AboutShowsTheOwnershipNotice) {
    EXPECT_EQ(main_.title, kMainTitle);
    ASSERT_EQ(program.Click(about_), "ok");
    ProgramDriver::Window box;
    ASSERT_TRUE(program.WaitForMessageBox("版权信息", &box));
    EXPECT_EQ(box.owner, main_.hwnd);
    EXPECT_EQ(program.MessageBoxStyle(box.hwnd), kMbIconInformation);
    EXPECT_FALSE(program.MessageBoxText(box.hwnd).empty());
    EXPECT_NE(program.ChildId(box.hwnd, kIdOk), 0u);
    EXPECT_FALSE(MainEnabled());
    EXPECT_EQ(program.Click(query_), "disabled");
    EXPECT_EQ(program.Click(about_), "disabled");
    EXPECT_EQ(program.CloseBox(main_.hwnd), "disabled");
    EXPECT_EQ(program.Key(main_.hwnd, "ESCAPE"), "disabled");

    ASSERT_TRUE(program.PressMessageBoxButton(box.hwnd, kIdOk));
    ASSERT_TRUE(program.WaitUntil([&] { return MainEnabled(); }));
    ExpectNothingLeftOfRuns();
    EndProgram();
}

TEST_F(Windows, TheCloseBoxEndsTheProgramWithCodeOne) {
    ASSERT_EQ(program.CloseBox(main_.hwnd), "ok");
    EXPECT_EQ(program.WaitForExit(), 1);
}

// A run does not change how the program ends; while the results window
// is open the main window cannot end it.
TEST_F(Windows, EscAfterARunEndsTheProgramWithCodeOne) {
    ProgramDriver::Window results = StartRun("10.0.0.7");
    ASSERT_TRUE(program.WaitForLineCount(ListOf(results), 1));
    EXPECT_EQ(program.Key(main_.hwnd, "ESCAPE"), "disabled");
    EXPECT_EQ(program.CloseBox(main_.hwnd), "disabled");
    CloseResults(results);
    EndProgram();
}

}  // namespace
}  // namespace e2e
