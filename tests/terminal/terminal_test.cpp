// The program in a terminal, used with the keys, the mouse and pastes as a
// person would, in a tmux session of 80 x 24 against the fake service and
// the fixture database. Every scenario ends the program through its main
// window (exit code 1) or a signal, and checks that nothing was written to
// standard error (sanitizer reports included) and that the terminal was
// given back as it was.
#include <signal.h>
#include <sys/stat.h>

#include <cstring>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tmux_program.h"

namespace {

const char kMainTitle[] = "Quorvane";
const char kResultsTitle[] = u8"检查结果";
const char kSaveAsTitle[] = u8"另存为";
const char kQueryFocused[] = u8"[>查询<]";
const char kCloseButton[] = u8"关闭";  // focused or not
const char kFailure[] = u8"连接spam服务器失败！";

// A result line of the fixture database, in UTF-8 (as the screen shows
// it) or in GBK (as the program writes it).
std::string ResultLine(const std::string &address, bool listed, bool utf8) {
    const bool lan = address.compare(0, 3, "10.") == 0;
    const bool doc = address.compare(0, 8, "192.0.2.") == 0;
    const char *country = utf8 ? (lan ? u8"局域网" : doc ? u8"美国" : u8"中国")
                               : (lan ? "局域网" : doc ? "美国" : "中国");
    const char *area = utf8 ? (lan ? u8"对方和您在同一内部网" : doc ? "Unknown" : u8"北京")
                            : (lan ? "对方和您在同一内部网" : doc ? "Unknown" : "北京");
    const char *verdict = utf8 ? (listed ? u8"在黑名单中" : u8"不在黑名单")
                               : (listed ? "在黑名单中" : "不在黑名单");
    return "ip " + address + "   " + verdict + "   " + country + " " + area;
}

std::string Utf8Line(const std::string &address, bool listed = false) {
    return ResultLine(address, listed, true);
}

// The list lines a screen shows, each without the frame and scroll bar
// around it, top to bottom.
std::vector<std::string> ShownLines(const std::vector<std::string> &screen) {
    std::vector<std::string> out;
    static const std::vector<std::string> kEdge = {" ", u8"│", u8"█", u8"║"};
    for (const std::string &row : screen) {
        size_t at = row.find("ip ");
        if (at == std::string::npos) continue;
        std::string line = row.substr(at);
        for (bool cut = true; cut;) {
            cut = false;
            for (const std::string &e : kEdge) {
                if (line.size() >= e.size() && line.compare(line.size() - e.size(), e.size(), e) == 0) {
                    line.erase(line.size() - e.size());
                    cut = true;
                }
            }
        }
        out.push_back(line);
    }
    return out;
}

// The "first-last/count" a list shows on its bottom edge.
bool ListPosition(const std::vector<std::string> &screen, size_t *first, size_t *last,
                  size_t *count) {
    for (const std::string &row : screen) {
        for (size_t at = row.find(' '); at != std::string::npos; at = row.find(' ', at + 1)) {
            unsigned long a, b, c;
            char end;
            if (sscanf(row.c_str() + at, " %lu-%lu/%lu%c", &a, &b, &c, &end) == 4 && end == ' ') {
                *first = a;
                *last = b;
                *count = c;
                return true;
            }
        }
    }
    return false;
}

bool ReadFile(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *bytes = s.str();
    return true;
}

class Terminal : public ::testing::Test {
protected:
    explicit Terminal(const TmuxProgram::Options &options = TmuxProgram::Options())
        : program(options) {}

    void SetUp() override {
        ASSERT_TRUE(program.started());
        ASSERT_TRUE(program.WaitForText(kQueryFocused)) << "the main window with Query focused";
    }

    // From the main window as it starts (Query focused): Tab twice reaches
    // the input box, whose frame then shows double.
    void FocusInput() {
        program.Keys({"Tab", "Tab"});
        ASSERT_TRUE(program.WaitForText(u8"╔")) << "the input box focused";
    }

    // Types each line (Enter between them) into the focused input box and
    // waits until the last one shows.
    void TypeLines(const std::vector<std::string> &lines) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) program.Keys({"Enter"});
            program.Type(lines[i]);
        }
        ASSERT_TRUE(program.WaitForText(lines.back()));
    }

    // From the input box: Tab to Query and Enter.
    void PressQuery() {
        program.Keys({"Tab"});
        ASSERT_TRUE(program.WaitForText(kQueryFocused));
        program.Keys({"Enter"});
    }

    // Types the lines, presses Query and waits until the list holds n lines.
    void TypeAndQuery(const std::vector<std::string> &lines, size_t n) {
        TypeLines(lines);
        Query(n);
    }

    void Query(size_t n) {
        PressQuery();
        WaitForLineCount(n);
    }

    void WaitForLineCount(size_t n) {
        ASSERT_TRUE(program.WaitForScreen(
            [&](const std::vector<std::string> &s) {
                size_t first, last, count;
                return ListPosition(s, &first, &last, &count) && count == n;
            },
            std::to_string(n) + " lines in the list"));
    }

    void ClickText(const std::string &text, int offset = 2, unsigned modifiers = 0,
                   int button = 0) {
        int row, col;
        ASSERT_TRUE(program.Find(text, &row, &col)) << text << "\n" << program.ScreenText();
        program.Click(row, col + offset, modifiers, button);
    }

    // Esc in the results window closes it, Esc in the main window ends the
    // program with code 1 and gives the terminal back.
    void EndProgram(bool results_open) {
        if (results_open) {
            program.Keys({"Escape"});
            ASSERT_TRUE(program.WaitForNoText(kResultsTitle));
            ASSERT_TRUE(program.WaitForText(kMainTitle));
        }
        program.Keys({"Escape"});
        EXPECT_EQ(program.WaitForExit(), 1);
        ExpectTerminalGivenBack();
    }

    void ExpectTerminalGivenBack() {
        EXPECT_EQ(program.Format("#{alternate_on} #{cursor_flag} #{mouse_any_flag} "
                                 "#{mouse_sgr_flag}"),
                  "0 1 0 0")
            << "alternate screen, cursor shown, mouse reports, SGR mouse";
    }

    void TearDown() override {
        EXPECT_EQ(program.StandardError(), "") << "the program's standard error";
    }

    TmuxProgram program;
};

TEST_F(Terminal, TypedAddressesAndARangeShowInSortedOrder) {
    program.service().Answer("1.2.3.10", FakeService::Listed(true));
    FocusInput();
    TypeAndQuery({"1.2.3.10", "1.2.3.2", "10.0.0.*"}, 258);
    std::vector<std::string> expected = {Utf8Line("1.2.3.10", true), Utf8Line("1.2.3.2")};
    for (int i = 0; i < 256; ++i) expected.push_back(Utf8Line("10.0.0." + std::to_string(i)));
    std::sort(expected.begin(), expected.end());

    // The first page, then the last one after End in the list (Tab from
    // Close, where the focus starts).
    std::vector<std::string> screen = program.Screen();
    size_t first = 0, last = 0, count = 0;
    ASSERT_TRUE(ListPosition(screen, &first, &last, &count));
    EXPECT_EQ(first, 1u);
    const size_t page = last;
    ASSERT_GT(page, 5u);
    EXPECT_EQ(ShownLines(screen),
              std::vector<std::string>(expected.begin(), expected.begin() + static_cast<long>(page)));
    program.Keys({"Tab", "End"});
    const std::string at_end = std::to_string(258 - page + 1) + "-258/258";
    ASSERT_TRUE(program.WaitForText(at_end));
    screen = program.Screen();
    EXPECT_EQ(ShownLines(screen),
              std::vector<std::string>(expected.end() - static_cast<long>(page), expected.end()));

    // Chinese text is two cells a character: every row of the list still
    // ends at the same column.
    int edge = -1;
    for (const std::string &row : screen) {
        if (row.find("ip ") == std::string::npos) continue;
        const int cells = TmuxProgram::Cells(row.substr(0, row.rfind(u8"│")));
        if (edge < 0) edge = cells;
        EXPECT_EQ(cells, edge) << row;
    }
    EndProgram(true);
}

// Save through the Save As dialog: the path typed, Enter; the file holds
// every line in list order with CR LF. The next Save As offers that path;
// the name of an existing file brings the question, and Yes replaces it.
TEST_F(Terminal, SaveWritesTheListToTheTypedPath) {
    FocusInput();
    TypeAndQuery({"192.0.2.7", "1.2.3.4"}, 2);
    const std::string bytes = ResultLine("1.2.3.4", false, false) + "\r\n" +
                              ResultLine("192.0.2.7", false, false) + "\r\n";
    const std::string path = program.dir() + "/out";

    program.Keys({"Tab", "Tab"});  // from Close past the list to Save
    ASSERT_TRUE(program.WaitForText(u8"[>保存到文件...<]"));
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForText(kSaveAsTitle));
    program.Type(path);
    ASSERT_TRUE(program.WaitForText("/out"));
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForNoText(kSaveAsTitle));
    std::string written;
    ASSERT_TRUE(program.WaitForScreen(
        [&](const std::vector<std::string> &) {
            return ReadFile(path + ".txt", &written) && written == bytes;
        },
        "the saved file"));

    // Save has the focus again; the dialog offers the path as chosen.
    std::ofstream(path + ".txt", std::ios::binary) << "what the file held before\r\n";
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForText(kSaveAsTitle));
    ASSERT_TRUE(program.WaitForText(path));
    program.Type(".txt");
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForText(u8"已存在"));
    program.Keys({"Enter"});  // Yes, the first button
    ASSERT_TRUE(program.WaitForNoText(kSaveAsTitle));
    ASSERT_TRUE(program.WaitForScreen(
        [&](const std::vector<std::string> &) {
            return ReadFile(path + ".txt", &written) && written == bytes;
        },
        "the replaced file"));
    EndProgram(true);
}

// Close (a click on its button) while the service holds the reply: the
// run stops, the main window comes back with its text, and a new run with
// one more line checks both.
TEST_F(Terminal, CloseDuringARunThenANewRun) {
    FakeReply stalled = FakeService::Listed(false);
    stalled.stall = true;
    program.service().SetDefault(stalled);
    FocusInput();
    TypeLines({"1.2.3.4"});
    PressQuery();
    ASSERT_TRUE(program.WaitForText(kResultsTitle));
    ASSERT_TRUE(program.service().WaitForStalled(1));
    ClickText(kCloseButton, 0);
    ASSERT_TRUE(program.WaitForNoText(kResultsTitle));
    EXPECT_EQ(program.service().Connections(), 1);
    program.service().SetDefault(FakeService::Listed(false));
    program.service().Release();

    // The focus is back on Query, where it was; the box still holds the
    // address. Ctrl+End goes to the end of its text.
    ASSERT_TRUE(program.WaitForText(kQueryFocused));
    ASSERT_TRUE(program.WaitForText("1.2.3.4"));
    program.Keys({"Tab", "Tab"});
    ASSERT_TRUE(program.WaitForText(u8"╔"));
    program.Keys({"C-End", "Enter"});
    TypeAndQuery({"192.0.2.7"}, 2);
    EXPECT_EQ(ShownLines(program.Screen()),
              (std::vector<std::string>{Utf8Line("1.2.3.4"), Utf8Line("192.0.2.7")}));
    EXPECT_EQ(program.service().Requests().size(), 3u);
    EndProgram(true);
}

class TerminalWithoutService : public Terminal {
protected:
    static TmuxProgram::Options Refused() {
        TmuxProgram::Options o;
        o.refuse_service = true;
        return o;
    }
    TerminalWithoutService() : Terminal(Refused()) {}
};

// Every query fails. The first failure's message box (the worker's) goes
// with Enter and the run goes on to its end; in the next run the box of
// the failure rule is up while the results window still takes a click on
// Close, which stops the worker and takes its box away.
TEST_F(TerminalWithoutService, TheFailureMessageBoxBlocksOnlyTheWorker) {
    FocusInput();
    TypeLines({"1.2.3.4"});
    PressQuery();
    ASSERT_TRUE(program.WaitForText(kFailure));
    ASSERT_TRUE(program.WaitForText(u8"警告"));
    ASSERT_TRUE(program.WaitForText(u8"[>OK<]")) << "the box has the keys";
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForNoText(kFailure));
    EXPECT_TRUE(ShownLines(program.Screen()).empty());
    program.Keys({"Escape"});
    ASSERT_TRUE(program.WaitForNoText(kResultsTitle));

    ASSERT_TRUE(program.WaitForText(kQueryFocused));
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForText(kFailure));
    ASSERT_TRUE(program.WaitForText(kResultsTitle));
    ClickText(kCloseButton, 0);
    ASSERT_TRUE(program.WaitForNoText(kResultsTitle));
    ASSERT_TRUE(program.WaitForNoText(kFailure));
    EndProgram(false);
}

TEST_F(Terminal, EscInTheMainWindowEndsTheProgramWithCodeOne) { EndProgram(false); }

// A signal that ends the program gives the terminal back first.
TEST(TerminalSignals, AnEndingSignalRestoresTheTerminal) {
    for (int sig : {SIGTERM, SIGHUP, SIGABRT}) {
        SCOPED_TRACE(strsignal(sig));
        TmuxProgram program;
        ASSERT_TRUE(program.started());
        ASSERT_TRUE(program.WaitForText(kQueryFocused));
        const int pid = program.Pid();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid, sig), 0);
        EXPECT_EQ(program.WaitForExit(), 128 + sig);
        EXPECT_EQ(program.Format("#{alternate_on} #{cursor_flag} #{mouse_any_flag}"), "0 1 0");
        EXPECT_EQ(program.StandardError(), "");
    }
}

// Lines selected with the keys (Space, Ctrl+Down, Space) and copied from
// the context menu (Shift+F10, Enter), then with the mouse (a click, a
// Shift+click, the menu at the pointer by a right click, a click on its
// line): each time the terminal's clipboard (tmux's buffer, by OSC 52)
// receives the lines in UTF-8.
TEST_F(Terminal, CopyPutsTheSelectionOnTheTerminalsClipboard) {
    FocusInput();
    TypeAndQuery({"1.2.3.4", "1.2.3.5", "1.2.3.6"}, 3);
    program.Keys({"Tab"});  // Close to the list
    ASSERT_TRUE(program.WaitForText(u8"╚"));
    program.Keys({"Space"});
    program.Keys({"C-Down"});
    program.Keys({"C-Down"});
    program.Keys({"Space"});
    program.Keys({"S-F10"});
    ASSERT_TRUE(program.WaitForText(u8"复制"));
    program.Keys({"Enter"});
    ASSERT_TRUE(program.WaitForNoText(u8"复制"));
    ASSERT_TRUE(program.WaitForScreen(
        [&](const std::vector<std::string> &) {
            return program.LastBuffer() == Utf8Line("1.2.3.4") + "\n" + Utf8Line("1.2.3.6");
        },
        "the copied lines 1 and 3 in tmux's buffer"));

    int row, col;
    ASSERT_TRUE(program.Find("ip 1.2.3.5", &row, &col));
    program.Click(row, col + 4);
    program.Click(row + 1, col + 4, 4 /* Shift */);
    program.Click(row, col + 6, 0, 2 /* the right button */);
    ASSERT_TRUE(program.WaitForText(u8"复制"));
    int menu_row, menu_col;
    ASSERT_TRUE(program.Find(u8"复制", &menu_row, &menu_col));
    EXPECT_EQ(menu_row, row + 1) << "the menu's corner at the pointer";
    EXPECT_EQ(menu_col, col + 6 + 2);
    program.Click(menu_row, menu_col);
    ASSERT_TRUE(program.WaitForScreen(
        [&](const std::vector<std::string> &) {
            return program.LastBuffer() == Utf8Line("1.2.3.5") + "\n" + Utf8Line("1.2.3.6");
        },
        "the copied lines 2 and 3 in tmux's buffer"));
    EndProgram(true);
}

// A block of lines pasted into the input box (bracketed, with LF and
// CR LF line ends and a Chinese comment) arrives as typed, and its
// addresses are checked.
TEST_F(Terminal, APastedBlockOfLinesIsTypedIntoTheInputBox) {
    FocusInput();
    program.Paste("1.2.3.4\n192.0.2.7\r\n10.0.0.1");
    ASSERT_TRUE(program.WaitForText("10.0.0.1"));
    int r1, r2, r3, c;
    ASSERT_TRUE(program.Find("1.2.3.4", &r1, &c));
    ASSERT_TRUE(program.Find("192.0.2.7", &r2, &c));
    ASSERT_TRUE(program.Find("10.0.0.1", &r3, &c));
    EXPECT_EQ(r2, r1 + 1);
    EXPECT_EQ(r3, r2 + 1);
    Query(3);
    EXPECT_EQ(ShownLines(program.Screen()),
              (std::vector<std::string>{Utf8Line("1.2.3.4"), Utf8Line("10.0.0.1"),
                                        Utf8Line("192.0.2.7")}));
    EndProgram(true);
}

// The windows are laid out again when the terminal's size changes: a
// larger terminal shows the results window at its full size (30 rows
// inside the frame), a smaller one than 80 x 24 says so, and back at
// 80 x 24 it is scaled to fit again.
TEST_F(Terminal, ResizingTheTerminalLaysTheWindowsOutAgain) {
    FocusInput();
    TypeAndQuery({"1.2.3.4"}, 1);
    // From the title bar to the outer frame's bottom edge, the first row
    // below it that begins with a corner.
    auto frame_rows = [&](const std::vector<std::string> &screen) {
        int top = -1;
        for (size_t r = 0; r < screen.size(); ++r) {
            if (top < 0 && screen[r].find(kResultsTitle) != std::string::npos) top = static_cast<int>(r);
            const size_t start = screen[r].find_first_not_of(' ');
            if (top >= 0 && static_cast<int>(r) > top && start != std::string::npos &&
                screen[r].compare(start, strlen(u8"└"), u8"└") == 0)
                return static_cast<int>(r) - top + 1;
        }
        return -1;
    };
    EXPECT_EQ(frame_rows(program.Screen()), 23);
    program.Resize(100, 40);
    ASSERT_TRUE(program.WaitForScreen(
        [&](const std::vector<std::string> &s) { return frame_rows(s) == 32; },
        "the results window at full size"));
    program.Resize(70, 20);
    ASSERT_TRUE(program.WaitForText("at least 80 x 24"));
    program.Resize(80, 24);
    ASSERT_TRUE(program.WaitForScreen(
        [&](const std::vector<std::string> &s) { return frame_rows(s) == 23; },
        "the results window scaled again"));
    EndProgram(true);
}

}  // namespace
