// What the program does when one of its windows cannot be created: the main
// window's code runs in this process, with the layer refusing the window.
#include <winsock2.h>
#include <windows.h>
#include <compat_seams.h>
#include <gtest/gtest.h>

#include "leak_check.h"
#include "resource.h"
#include "run_state.h"
#include "ui/ui.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

const char kMainTitle[] = "Quorvane";
const char kResultsTitle[] = "检查结果";

// Lifts the refusal however the test ends.
struct Refusing {
    explicit Refusing(const char *title) { CompatRefuseWindowsTitled(title); }
    ~Refusing() { CompatRefuseWindowsTitled(nullptr); }
};

// Without a results window the run does not start: nothing would ever end
// it and give the main window back. Query stays usable and keeps nothing.
TEST(WindowFailures, ARunWithoutAResultsWindowDoesNotStart) {
    LeakCheck leaks;
    HWND main = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                   MainDlgProc, 0);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(SetDlgItemTextA(main, IDC_INPUT, "1.2.3.4\r\n1.2.3.5"));
    {
        Refusing refusing(kResultsTitle);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_QUERY, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_QUERY)));
            EXPECT_TRUE(IsWindowEnabled(main)) << "attempt " << attempt;
            EXPECT_EQ(::Run.inputCopy, nullptr) << "attempt " << attempt;
            EXPECT_EQ(::Run.worker, nullptr) << "attempt " << attempt;
            EXPECT_EQ(::Run.resultsWindow, nullptr) << "attempt " << attempt;
            CompatResourceCounts c = CompatGetResourceCounts();
            EXPECT_EQ(c.threads, 0) << "attempt " << attempt;
        }
    }
    DestroyWindow(main);
}

// A main window that cannot be created ends the program as a closed one
// does, with exit code 1.
TEST(WindowFailures, WithoutAMainWindowWinMainEndsWithCodeOne) {
    LeakCheck leaks;
    Refusing refusing(kMainTitle);
    char command_line[] = "";
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT), 1);
}

}  // namespace
