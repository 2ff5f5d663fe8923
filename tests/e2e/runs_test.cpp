// Runs from the main window, and each way a run ends: at the end of its
// text, by the refusal of a too-large range, by the failure rule, and by
// Close at whatever point the worker has reached.
#include <algorithm>
#include <string>
#include <vector>

#include "scenario.h"

namespace e2e {
namespace {

using Runs = Scenario;

std::vector<std::string> SortedAsTheList(std::vector<std::string> lines) {
    // Result lines hold no ASCII letters that differ in case only where
    // they differ, so the list's order is the plain byte order.
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(Runs, SingleAddressesGiveOneSortedLineEach) {
    program.service().Answer("1.2.3.10", FakeService::Listed(true));
    ProgramDriver::Window results = StartRun("1.2.3.2\r1.2.3.10\r10.0.0.1\r192.0.2.7");
    EXPECT_EQ(results.owner, main_.hwnd);
    EXPECT_FALSE(MainEnabled());
    const Hwnd list = ListOf(results);
    ASSERT_TRUE(program.WaitForLineCount(list, 4));
    ASSERT_TRUE(WaitForWorkerEnd());
    EXPECT_EQ(program.ListTexts(list), (std::vector<std::string>{
                                           ResultLine("1.2.3.10", true),
                                           ResultLine("1.2.3.2", false),
                                           ResultLine("10.0.0.1", false),
                                           ResultLine("192.0.2.7", false),
                                       }));
    std::vector<std::string> asked;
    for (const FakeConnection &c : program.service().Log()) asked.push_back(c.address);
    EXPECT_EQ(asked, (std::vector<std::string>{"1.2.3.2", "1.2.3.10", "10.0.0.1", "192.0.2.7"}));

    // The finished run keeps its window, and the main window stays
    // disabled, until Close; the input box keeps its text.
    ASSERT_TRUE(program.Idle(main_.hwnd));
    EXPECT_FALSE(MainEnabled());
    EXPECT_EQ(program.Click(query_), "disabled");
    CloseResults(results);
    EXPECT_EQ(program.Text(input_), "1.2.3.2\r\n1.2.3.10\r\n10.0.0.1\r\n192.0.2.7");
    ExpectNothingLeftOfRuns();
    EndProgram();
}

TEST_F(Runs, AWildcardRangeChecksEveryAddressInAscendingOrder) {
    program.service().SetPolicy([](const std::string &address) {
        return FakeService::Listed(address.size() % 2 == 0);
    });
    ProgramDriver::Window results = StartRun("1.2.3.*");
    const Hwnd list = ListOf(results);
    ASSERT_TRUE(program.WaitForLineCount(list, 256));
    ASSERT_TRUE(WaitForWorkerEnd());

    std::vector<std::string> expected, asked, wanted_order;
    for (int i = 0; i < 256; ++i) {
        const std::string address = "1.2.3." + std::to_string(i);
        expected.push_back(ResultLine(address, address.size() % 2 == 0));
        wanted_order.push_back(address);
    }
    for (const FakeConnection &c : program.service().Log()) asked.push_back(c.address);
    EXPECT_EQ(asked, wanted_order);
    EXPECT_EQ(program.ListTexts(list), SortedAsTheList(expected));
    CloseResults(results);
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// Three wildcard parts are refused by the worker's own box, owned by
// nobody; nothing is asked, and the main window waits for Close.
TEST_F(Runs, ATooLargeRangeIsRefused) {
    ProgramDriver::Window results = StartRun("*.*.*.1");
    ProgramDriver::Window box;
    ASSERT_TRUE(program.WaitForMessageBox(kWarning, &box));
    EXPECT_EQ(program.MessageBoxText(box.hwnd), "无法一次查询这么多IP");
    EXPECT_EQ(box.owner, 0u);
    EXPECT_NE(box.thread, main_.thread) << "shown by the worker, not the UI thread";
    EXPECT_EQ(program.MessageBoxStyle(box.hwnd) & 0xF0, kMbIconError);
    EXPECT_FALSE(MainEnabled());
    ASSERT_TRUE(program.PressMessageBoxButton(box.hwnd, kIdOk));
    ASSERT_TRUE(WaitForWorkerEnd());

    ASSERT_TRUE(program.Idle(main_.hwnd));
    EXPECT_FALSE(MainEnabled());
    EXPECT_TRUE(program.ReadList(ListOf(results)).empty());
    EXPECT_EQ(program.service().Connections(), 0);
    CloseResults(results);
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// The first failed query of the process costs its line; the second, in a
// later run, ends that run on the spot.
TEST_F(Runs, TheFailureRuleSpansRuns) {
    struct Step {
        const char *input;
        std::vector<std::string> lines;  // what the run shows in the end
        int requests;                    // what reaches the service in all
    } steps[] = {
        {"1.2.3.1\r1.2.3.2", {ResultLine("1.2.3.2", false)}, 1},
        {"1.2.3.3\r1.2.3.4", {}, 1},
    };
    for (const Step &step : steps) {
        ASSERT_TRUE(program.RefuseServiceConnections());
        ProgramDriver::Window results = StartRun(step.input);
        ProgramDriver::Window box;
        ASSERT_TRUE(program.WaitForMessageBox(kWarning, &box)) << step.input;
        EXPECT_EQ(program.MessageBoxText(box.hwnd), "连接spam服务器失败！") << step.input;
        EXPECT_EQ(box.owner, 0u) << step.input;
        EXPECT_EQ(program.MessageBoxStyle(box.hwnd) & 0xF0, kMbIconError) << step.input;
        // The service is back before the box goes: whatever the run does
        // next can reach it.
        ASSERT_TRUE(program.RouteServiceToFake());
        ASSERT_TRUE(program.PressMessageBoxButton(box.hwnd, kIdOk)) << step.input;
        ASSERT_TRUE(WaitForWorkerEnd()) << step.input;
        ASSERT_TRUE(program.Idle(main_.hwnd));
        EXPECT_EQ(program.ListTexts(ListOf(results)), step.lines) << step.input;
        EXPECT_EQ(program.service().Connections(), step.requests) << step.input;
        EXPECT_FALSE(program.FindWindow(kDialogClass, kWarning, nullptr)) << step.input;
        CloseResults(results);
    }
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// Close stops the worker wherever it is. Afterwards nothing more reaches
// the service and nothing more is added, the run's memory is released
// once, and the next run opens a new, empty window.
TEST_F(Runs, CloseStopsARunWhereverItIs) {
    struct Case {
        const char *name;
        const char *input;
        std::function<void()> prepare;  // before the run starts
        std::function<void()> reached;  // waits for the point where Close comes
        size_t lines_then;              // what the window shows then
        int connections_then;           // what has reached the service then
    };
    const FakeReply stalled{FakeService::ReplyText(false), 0, true};
    Case cases[] = {
        {"waiting for the service", "1.2.3.1\r1.2.3.2",
         [&] { program.service().SetDefault(stalled); },
         [&] { ASSERT_TRUE(program.service().WaitForStalled(1)); }, 0, 1},
        {"showing the failure box", "1.2.3.3\r1.2.3.4",
         [&] { ASSERT_TRUE(program.RefuseServiceConnections()); },
         [&] { ASSERT_TRUE(program.WaitForMessageBox(kWarning, nullptr)); }, 0, 0},
        {"in the middle of a range", "10.0.1.*",
         [&] { program.service().Answer("10.0.1.100", stalled); },
         [&] { ASSERT_TRUE(program.service().WaitForStalled(1)); }, 100, 101},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int before = program.service().Connections();
        c.prepare();
        ProgramDriver::Window results = StartRun(c.input);
        c.reached();
        if (HasFatalFailure()) return;
        const Hwnd list = ListOf(results);
        ASSERT_TRUE(program.WaitForLineCount(list, c.lines_then));
        EXPECT_EQ(program.service().Connections() - before, c.connections_then);

        CloseResults(results);
        EXPECT_FALSE(program.FindWindow(kDialogClass, kWarning, nullptr));
        EXPECT_EQ(program.Text(input_), [&] {
            std::string text = c.input;
            for (size_t p = 0; (p = text.find('\r', p)) != std::string::npos; p += 2)
                text.insert(p + 1, "\n");
            return text;
        }());
        ExpectNothingLeftOfRuns();

        // Whatever held the worker lets go; a worker still alive would
        // now go on to its next address.
        program.service().SetDefault(FakeService::Listed(false));
        program.service().Answer("10.0.1.100", FakeService::Listed(false));
        program.service().Release();
        ASSERT_TRUE(program.RouteServiceToFake());
        ASSERT_TRUE(program.Idle(main_.hwnd));
        EXPECT_EQ(program.service().Connections() - before, c.connections_then);

        ProgramDriver::Window next = StartRun("192.0.2.9");
        EXPECT_NE(next.hwnd, results.hwnd);
        const Hwnd next_list = ListOf(next);
        ASSERT_TRUE(program.WaitForLineCount(next_list, 1));
        ASSERT_TRUE(WaitForWorkerEnd());
        EXPECT_EQ(program.ListTexts(next_list),
                  std::vector<std::string>{ResultLine("192.0.2.9", false)});
        CloseResults(next);
    }
    ExpectNothingLeftOfRuns();
    EndProgram();
}

TEST_F(Runs, QueryWithAnEmptyInputDoesNothing) {
    ASSERT_EQ(program.SetText(input_, ""), "ok");
    ASSERT_EQ(program.Click(query_), "ok");
    ASSERT_TRUE(program.Idle(main_.hwnd));
    EXPECT_FALSE(program.FindWindow(kDialogClass, kResultsTitle, nullptr));
    EXPECT_TRUE(MainEnabled());
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// Enter in the input box starts a new line, not a run.
TEST_F(Runs, EnterInTheInputBoxIsALineBreak) {
    ASSERT_EQ(program.Type(input_, "1.2.3.4"), "ok");
    ASSERT_EQ(program.Key(input_, "RETURN"), "ok");
    ASSERT_EQ(program.Type(input_, "1.2.3.5"), "ok");
    ASSERT_TRUE(program.Idle(main_.hwnd));
    EXPECT_EQ(program.Text(input_), "1.2.3.4\r\n1.2.3.5");
    EXPECT_FALSE(program.FindWindow(kDialogClass, kResultsTitle, nullptr));
    EXPECT_EQ(program.service().Connections(), 0);
    EndProgram();
}

}  // namespace
}  // namespace e2e
