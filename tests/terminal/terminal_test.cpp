// The program in a terminal, used with the keys, the mouse and pastes as a
// person would, in a tmux session of 80 x 24 against the fake service and
// the fixture database. Every scenario ends the program through its main
// window (exit code 1) or a signal, and checks that nothing was written to
// standard error (sanitizer reports included) and that the terminal was
// given back as it was.
#include <signal.h>
#include <sys/stat.h>

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
const char kCloseButton[] = u8"[ 关闭 ]";
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

    // Types each line (Enter between them) into the focused input box,
    // then Tab to Query and Enter; waits until the list holds n lines.
    void TypeAndQuery(const std::vector<std::string> &lines, size_t n) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) program.Keys({"Enter"});
            program.Type(lines[i]);
        }
        ASSERT_TRUE(program.WaitForText(lines.back()));
        Query(n);
    }

    void Query(size_t n) {
        program.Keys({"Tab"});
        ASSERT_TRUE(program.WaitForText(kQueryFocused));
        program.Keys({"Enter"});
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

}  // namespace
