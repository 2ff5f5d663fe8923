// The list box: sorted insertion, reading lines back, and selection.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "leak_check.h"

namespace {

// A list box in a plain parent window, both destroyed with the fixture.
class ListFixture {
public:
    explicit ListFixture(DWORD list_style) {
        parent_ = CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
        list_ = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | list_style, 0, 0, 290, 190, parent_,
                                reinterpret_cast<HMENU>(1003), nullptr, nullptr);
    }
    ~ListFixture() { DestroyWindow(parent_); }
    HWND list() const { return list_; }

    LRESULT Add(const std::string &line) {
        return SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) { return SendMessageA(list_, msg, wp, lp); }

    std::string Text(LRESULT index) {
        LRESULT length = Send(LB_GETTEXTLEN, static_cast<WPARAM>(index));
        if (length < 0) return "<LB_ERR>";
        std::string text(static_cast<size_t>(length) + 1, '\0');
        Send(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length));
        return text;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (LRESULT i = 0, n = Send(LB_GETCOUNT); i < n; ++i) lines.push_back(Text(i));
        return lines;
    }
    std::vector<int> SelectedItems(int max) {
        std::vector<int> items(static_cast<size_t>(max) + 1, -7);
        LRESULT n = Send(LB_GETSELITEMS, static_cast<WPARAM>(max),
                         reinterpret_cast<LPARAM>(items.data()));
        EXPECT_EQ(items[static_cast<size_t>(max)], -7) << "LB_GETSELITEMS wrote past max";
        items.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return items;
    }

private:
    HWND parent_ = nullptr;
    HWND list_ = nullptr;
};

std::string Join(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &l : lines) out += "[" + l + "]";
    return out;
}

TEST(ListBox, InsertionOrder) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        DWORD style;
        std::vector<std::string> added;
        std::vector<std::string> expected;
    } cases[] = {
        {"text order, not numeric", LBS_SORT,
         {"ip 1.2.3.2   x", "ip 1.2.3.10   x", "ip 1.2.3.1   x"},
         {"ip 1.2.3.1   x", "ip 1.2.3.10   x", "ip 1.2.3.2   x"}},
        {"empty line first", LBS_SORT, {"b", "", "a"}, {"", "a", "b"}},
        {"letters folded, equal lines after the earlier ones", LBS_SORT,
         {"b", "A", "B", "a"}, {"A", "a", "b", "B"}},
        {"same line three times keeps arrival order", LBS_SORT,
         {"Ab", "aB", "x", "AB"}, {"Ab", "aB", "AB", "x"}},
        {"prefix before the longer line", LBS_SORT, {"abc", "ab", "abcd"}, {"ab", "abc", "abcd"}},
        {"folded to lower case: '_' before letters", LBS_SORT, {"Z", "_", "a"}, {"_", "a", "Z"}},
        {"bytes above 0x7F after ASCII", LBS_SORT, {"\xb2\xbb", "z"}, {"z", "\xb2\xbb"}},
        {"second byte of a GBK character is not folded", LBS_SORT,
         {"\x81\x61", "\x81\x41"}, {"\x81\x41", "\x81\x61"}},
        {"without LBS_SORT lines are appended", 0, {"b", "a", "c"}, {"b", "a", "c"}},
    };
    for (const Case &c : cases) {
        ListFixture f(c.style);
        for (const std::string &line : c.added) {
            LRESULT index = f.Add(line);
            ASSERT_GE(index, 0) << c.name;
            EXPECT_EQ(f.Text(index), line) << c.name << ": LB_ADDSTRING's index for " << line;
        }
        EXPECT_EQ(Join(f.Lines()), Join(c.expected)) << c.name;
    }
}

// Enough lines to split many blocks, inserted in random order, with
// duplicates under case folding; compared with a plain stable sort.
TEST(ListBox, ManyLinesMatchAStableSort) {
    LeakCheck leaks;
    ListFixture f(LBS_SORT | LBS_EXTENDEDSEL);
    std::mt19937 random(12345);
    std::vector<std::string> added;
    for (int i = 0; i < 6000; ++i) {
        char line[40];
        snprintf(line, sizeof line, "%s %u.%u", (random() & 1) ? "ip" : "IP",
                 static_cast<unsigned>(random() % 256), static_cast<unsigned>(random() % 64));
        added.push_back(line);
        f.Add(line);
    }
    auto folded = [](std::string s) {
        for (char &ch : s) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        return s;
    };
    std::vector<std::string> expected = added;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const std::string &a, const std::string &b) { return folded(a) < folded(b); });
    std::vector<std::string> lines = f.Lines();
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], expected[i]) << "line " << i;
}

TEST(ListBox, ReadingLines) {
    LeakCheck leaks;
    ListFixture f(LBS_SORT);
    f.Add("bravo");
    f.Add("alpha");
    EXPECT_EQ(f.Send(LB_GETCOUNT), 2);

    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(f.Send(LB_GETTEXT, 1, reinterpret_cast<LPARAM>(buffer)), 5);
    EXPECT_STREQ(buffer, "bravo");
    EXPECT_EQ(buffer[6], 'x') << "LB_GETTEXT wrote past the text's zero";
    EXPECT_EQ(f.Send(LB_GETTEXTLEN, 0), 5);

    struct Bad {
        const char *name;
        UINT msg;
        WPARAM wp;
    } bad[] = {
        {"LB_GETTEXT past the end", LB_GETTEXT, 2},
        {"LB_GETTEXT at -1", LB_GETTEXT, static_cast<WPARAM>(-1)},
        {"LB_GETTEXTLEN past the end", LB_GETTEXTLEN, 2},
        {"LB_GETSEL past the end", LB_GETSEL, 2},
    };
    for (const Bad &b : bad)
        EXPECT_EQ(f.Send(b.msg, b.wp, reinterpret_cast<LPARAM>(buffer)), LB_ERR) << b.name;
    EXPECT_EQ(f.Send(LB_ADDSTRING, 0, 0), LB_ERR) << "null text";

    EXPECT_EQ(f.Send(LB_RESETCONTENT), 0);
    EXPECT_EQ(f.Send(LB_GETCOUNT), 0);
    EXPECT_EQ(f.Send(LB_GETTEXT, 0, reinterpret_cast<LPARAM>(buffer)), LB_ERR);
}

TEST(ListBox, SelectionFollowsItsLine) {
    LeakCheck leaks;
    ListFixture f(LBS_SORT | LBS_EXTENDEDSEL);
    for (const char *line : {"a", "b", "c", "d", "e"}) f.Add(line);

    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, 3), 0);
    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, 0), 0);
    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, 4), 0);
    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, 4), 0) << "selecting twice counts once";
    EXPECT_EQ(f.Send(LB_GETSELCOUNT), 3);
    EXPECT_EQ(f.SelectedItems(10), (std::vector<int>{0, 3, 4}));
    EXPECT_EQ(f.SelectedItems(2), (std::vector<int>{0, 3})) << "at most wParam indices";
    EXPECT_GT(f.Send(LB_GETSEL, 3), 0);
    EXPECT_EQ(f.Send(LB_GETSEL, 1), 0);
    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, 5), LB_ERR);

    // A line sorted in before them moves the selected lines down by one.
    f.Add("0");
    EXPECT_EQ(f.SelectedItems(10), (std::vector<int>{1, 4, 5}));
    EXPECT_EQ(f.Text(4), "d");

    EXPECT_EQ(f.Send(LB_SETSEL, FALSE, 4), 0);
    EXPECT_EQ(f.SelectedItems(10), (std::vector<int>{1, 5}));
    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, -1), 0);
    EXPECT_EQ(f.Send(LB_GETSELCOUNT), 6);
    EXPECT_EQ(f.Send(LB_SETSEL, FALSE, -1), 0);
    EXPECT_EQ(f.Send(LB_GETSELCOUNT), 0);
    EXPECT_EQ(f.SelectedItems(10), std::vector<int>{});

    f.Send(LB_SETSEL, TRUE, 2);
    f.Send(LB_RESETCONTENT);
    f.Add("z");
    EXPECT_EQ(f.Send(LB_GETSELCOUNT), 0) << "LB_RESETCONTENT drops the selection";
}

TEST(ListBox, SingleSelectionListRefusesMultipleSelectionMessages) {
    LeakCheck leaks;
    ListFixture f(LBS_SORT);
    f.Add("a");
    int items[4];
    EXPECT_EQ(f.Send(LB_SETSEL, TRUE, 0), LB_ERR);
    EXPECT_EQ(f.Send(LB_GETSELCOUNT), LB_ERR);
    EXPECT_EQ(f.Send(LB_GETSELITEMS, 4, reinterpret_cast<LPARAM>(items)), LB_ERR);
    EXPECT_EQ(f.Send(LB_GETSEL, 0), 0);
}

}  // namespace
