// What the scenarios share: the program's windows and controls, the steps a
// user takes again and again, and the result lines the fixture database
// gives. Each scenario starts its own program and ends it through the main
// window, so every scenario also checks the exit code and, under the
// sanitizers, that the program ends clean.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "program_driver.h"

namespace e2e {

using Hwnd = ProgramDriver::Hwnd;

// Controls of the main window, the results window and the Save As dialog.
constexpr long long kIdOk = 1, kIdCancel = 2, kIdYes = 6;
constexpr long long kAbout = 1000, kQuery = 1001, kInput = 1002;
constexpr long long kSave = 1001, kResultList = 1003;
constexpr long long kSaveAsFileName = 1152;
constexpr long long kCopyCommand = 40000;
constexpr unsigned kMbTypeMask = 0xF, kMbYesNo = 0x4;
constexpr unsigned kMbIconError = 0x10, kMbIconInformation = 0x40;

const char kMainTitle[] = "Quorvane";
const char kResultsTitle[] = "检查结果";
const char kSaveAsTitle[] = "另存为";
const char kWarning[] = "警告";
const char kDialogClass[] = "#32770";

// The lines of the fixture database's ranges (ProgramDriver::WriteFixtureDatabase).
inline std::string ResultLine(const std::string &address, bool listed) {
    const char *country = "中国", *area = "北京";
    if (address.compare(0, 3, "10.") == 0) {
        country = "局域网";
        area = "对方和您在同一内部网";
    } else if (address.compare(0, 8, "192.0.2.") == 0) {
        country = "美国";
        area = "Unknown";
    } else if (address.compare(0, 11, "198.51.100.") == 0) {
        country = "澳大利亚";
        area = ProgramDriver::kLongArea;
    }
    char line[200];
    snprintf(line, sizeof line, "ip %s   %s   %s %s", address.c_str(),
             listed ? "在黑名单中" : "不在黑名单", country, area);
    return line;
}

inline std::string WithCrLf(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &l : lines) out += l + "\r\n";
    return out;
}

class Scenario : public ::testing::Test {
protected:
    explicit Scenario(bool with_database = true) : program(with_database) {}

    void SetUp() override {
        ASSERT_TRUE(program.running());
        main_ = program.MainWindow();
        ASSERT_NE(main_.hwnd, 0u);
        input_ = program.ChildId(main_.hwnd, kInput);
        query_ = program.ChildId(main_.hwnd, kQuery);
        about_ = program.ChildId(main_.hwnd, kAbout);
        ASSERT_NE(input_, 0u);
        ASSERT_NE(query_, 0u);
        ASSERT_NE(about_, 0u);
        ASSERT_TRUE(program.Idle(main_.hwnd));
        baseline_ = program.LiveCounts();
    }

    bool MainEnabled() {
        ProgramDriver::Window w;
        return program.GetWindow(main_.hwnd, &w) && w.enabled;
    }

    // Types the text into the empty input box, Enter as "\r" ("\r\n" in the
    // box), presses Query and waits for the results window.
    ProgramDriver::Window StartRun(const std::string &typed) {
        ProgramDriver::Window results;
        EXPECT_EQ(program.SetText(input_, ""), "ok");
        EXPECT_EQ(program.Type(input_, typed), "ok");
        EXPECT_EQ(program.Click(query_), "ok");
        EXPECT_TRUE(program.WaitForWindow(kDialogClass, kResultsTitle, &results))
            << "no results window for: " << WireText(typed);
        return results;
    }

    Hwnd ListOf(const ProgramDriver::Window &results) {
        return program.ChildId(results.hwnd, kResultList);
    }

    // Close of the results window: the window goes and the main window
    // takes input again.
    void CloseResults(const ProgramDriver::Window &results) {
        ASSERT_EQ(program.Click(program.ChildId(results.hwnd, kIdCancel)), "ok");
        ASSERT_TRUE(program.WaitForGone(results.hwnd));
        ASSERT_TRUE(program.WaitUntil([&] { return MainEnabled(); }));
    }

    // Waits until the run's worker has ended: the program is back to the
    // threads it had before the run.
    bool WaitForWorkerEnd() {
        return program.WaitUntil(
            [&] { return program.LiveCounts().threads == baseline_.threads; });
    }

    // Everything a run made is gone again (the clipboard's block aside).
    void ExpectNothingLeftOfRuns(long long clipboard_blocks = 0) {
        ASSERT_TRUE(program.Idle(main_.hwnd));
        ProgramDriver::Counts now = program.LiveCounts();
        EXPECT_EQ(now.blocks, baseline_.blocks + clipboard_blocks) << "global memory blocks";
        EXPECT_EQ(now.windows, baseline_.windows) << "windows";
        EXPECT_EQ(now.threads, baseline_.threads) << "threads";
        EXPECT_EQ(now.handles, baseline_.handles) << "handles";
        EXPECT_EQ(now.sockets, baseline_.sockets) << "sockets";
    }

    // Esc in the idle main window ends the program with exit code 1.
    void EndProgram() {
        ASSERT_EQ(program.Key(main_.hwnd, "ESCAPE"), "ok");
        EXPECT_EQ(program.WaitForExit(), 1);
    }

    ProgramDriver program;
    ProgramDriver::Window main_;
    Hwnd input_ = 0, query_ = 0, about_ = 0;
    ProgramDriver::Counts baseline_;
};

}  // namespace e2e
