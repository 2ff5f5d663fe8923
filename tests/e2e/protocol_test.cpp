// The automation back end itself, driving the probe program
// (probe/probe_main.cpp): what it reads, the input it hands over and what it
// refuses, its waits, and how the program ends when the driver goes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "program_driver.h"

namespace {

using Hwnd = ProgramDriver::Hwnd;

constexpr long long kList = 10, kMessageButton = 1, kDisabledButton = 2;
constexpr long long kPositionLabel = 20, kTypedLabel = 21;
constexpr int kProbeExitCode = 7;
constexpr unsigned kMbOkCancel = 0x1, kMbIconInformation = 0x40;

class Protocol : public ::testing::Test {
protected:
    Protocol() : probe(false, QV_PROBE_PROGRAM) {}

    ProgramDriver::Window Probe() {
        ProgramDriver::Window w;
        EXPECT_TRUE(probe.WaitForWindow("Static", "探针 probe\\1", &w)) << "no probe window";
        return w;
    }
    void EndProbe(const ProgramDriver::Window &w) {
        ASSERT_EQ(probe.CloseBox(w.hwnd), "ok");
        EXPECT_EQ(probe.WaitForExit(), kProbeExitCode);
    }

    ProgramDriver probe;
};

TEST_F(Protocol, ReadsWindowsChildrenAndListsWithTheirBytes) {
    ProgramDriver::Window w = Probe();
    EXPECT_TRUE(w.enabled);
    EXPECT_TRUE(w.visible);
    EXPECT_EQ(w.owner, 0u);
    EXPECT_EQ(probe.Text(w.hwnd), "探针 probe\\1");

    std::vector<ProgramDriver::Child> children = probe.Children(w.hwnd);
    ASSERT_EQ(children.size(), 5u);
    EXPECT_EQ(children[0].id, kList);
    EXPECT_EQ(children[0].class_name, "ListBox");
    EXPECT_EQ(children[1].text, "消息");
    EXPECT_TRUE(children[1].enabled);
    EXPECT_EQ(children[2].id, kDisabledButton);
    EXPECT_FALSE(children[2].enabled);

    // Sorted as the list sorts, the empty line first, every byte intact.
    const Hwnd list = children[0].hwnd;
    std::vector<ProgramDriver::Line> lines = probe.ReadList(list);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "");
    EXPECT_EQ(lines[1].text, "ip 1.2.3.10");
    EXPECT_EQ(lines[2].text, "ip 1.2.3.2");
    EXPECT_EQ(lines[3].text, "中文 行");
    for (const auto &l : lines) EXPECT_FALSE(l.selected) << l.text;
    EndProbe(w);
}

TEST_F(Protocol, SelectionIsHandedToTheListAndSeenInIt) {
    ProgramDriver::Window w = Probe();
    const Hwnd list = probe.ChildId(w.hwnd, kList);
    ASSERT_EQ(probe.Select(list, 1, true), "ok");
    ASSERT_EQ(probe.Select(list, 3, true), "ok");
    ASSERT_TRUE(probe.WaitUntil([&] {
        std::vector<ProgramDriver::Line> l = probe.ReadList(list);
        return l.size() == 4 && !l[0].selected && l[1].selected && !l[2].selected && l[3].selected;
    }));
    ASSERT_EQ(probe.Select(list, -1, false), "ok");
    ASSERT_TRUE(probe.WaitUntil([&] {
        for (const auto &l : probe.ReadList(list))
            if (l.selected) return false;
        return true;
    }));
    EXPECT_EQ(probe.Select(list, 4, true), "no-line");
    EXPECT_EQ(probe.Select(probe.ChildId(w.hwnd, kMessageButton), 0, true), "not-a-list");
    EndProbe(w);
}

// An owned message box disables its owner: the owner's buttons then take
// no clicks, and take them again once the box is gone.
TEST_F(Protocol, OwnedMessageBoxAndTheInputItBlocks) {
    ProgramDriver::Window w = Probe();
    const Hwnd button = probe.ChildId(w.hwnd, kMessageButton);
    EXPECT_EQ(probe.Click(probe.ChildId(w.hwnd, kDisabledButton)), "disabled");
    ASSERT_EQ(probe.Click(button), "ok");

    ProgramDriver::Window box;
    ASSERT_TRUE(probe.WaitForMessageBox("提示", &box));
    EXPECT_EQ(box.owner, w.hwnd);
    EXPECT_EQ(box.thread, w.thread);
    EXPECT_EQ(probe.MessageBoxText(box.hwnd), "探针 says \\hi\\");
    EXPECT_EQ(probe.MessageBoxStyle(box.hwnd), kMbOkCancel | kMbIconInformation);
    EXPECT_EQ(probe.MessageBoxStyle(w.hwnd), ~0u);
    ProgramDriver::Window owner;
    ASSERT_TRUE(probe.GetWindow(w.hwnd, &owner));
    EXPECT_FALSE(owner.enabled);
    EXPECT_EQ(probe.Click(button), "disabled");
    EXPECT_EQ(probe.CloseBox(w.hwnd), "disabled");

    ASSERT_TRUE(probe.PressMessageBoxButton(box.hwnd, 2 /* IDCANCEL */));
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.GetWindow(w.hwnd, &owner) && owner.enabled; }));
    EXPECT_EQ(probe.Click(button), "ok");
    ASSERT_TRUE(probe.WaitForMessageBox("提示", &box));
    ASSERT_TRUE(probe.PressMessageBoxButton(box.hwnd, 1 /* IDOK */));
    EndProbe(w);
}

TEST_F(Protocol, TypedBytesAndContextMenuRequestsReachTheWindow) {
    ProgramDriver::Window w = Probe();
    const Hwnd typed = probe.ChildId(w.hwnd, kTypedLabel);
    const Hwnd position = probe.ChildId(w.hwnd, kPositionLabel);
    const std::string text = "1.2.3.4 \\中\r\n\x7f";
    ASSERT_EQ(probe.Type(w.hwnd, text), "ok");
    ASSERT_TRUE(probe.WaitUntil([&] { return probe.Text(typed) == text; }))
        << "typed: " << WireText(probe.Text(typed));

    struct Case {
        const char *name;
        std::function<std::string()> input;
        const char *position;
    } cases[] = {
        {"right click", [&] { return probe.RightClick(w.hwnd, 120, -5); }, "120,-5"},
        {"APPS key", [&] { return probe.Key(w.hwnd, "APPS"); }, "-1,-1"},
        {"right click far", [&] { return probe.RightClick(w.hwnd, 32767, -32768); },
         "32767,-32768"},
        {"Shift+F10", [&] { return probe.Key(w.hwnd, "SHIFT-F10"); }, "-1,-1"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(c.input(), "ok") << c.name;
        ASSERT_TRUE(probe.WaitUntil([&] { return probe.Text(position) == c.position; }))
            << c.name << ": " << probe.Text(position);
        ASSERT_EQ(probe.SetText(position, ""), "ok") << c.name;
    }
    EndProbe(w);
}

// Idle comes only after what was posted has been carried out: the typed
// text is there without waiting for a change.
TEST_F(Protocol, IdleFollowsPostedInput) {
    ProgramDriver::Window w = Probe();
    const Hwnd typed = probe.ChildId(w.hwnd, kTypedLabel);
    std::string expected;
    for (int round = 0; round < 20; ++round) {
        const std::string piece = "r" + std::to_string(round) + " ";
        expected += piece;
        ASSERT_EQ(probe.Type(w.hwnd, piece), "ok");
        ASSERT_TRUE(probe.Idle(w.hwnd));
        ASSERT_EQ(probe.Text(typed), expected) << "round " << round;
    }
    EndProbe(w);
}

TEST_F(Protocol, MalformedAndStaleRequestsAreRefused) {
    ProgramDriver::Window w = Probe();
    const std::string h = "0x" + [&] {
        char b[32];
        snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(w.hwnd));
        return std::string(b);
    }();
    struct Case {
        const char *request;
        const char *reason;
    } cases[] = {
        {"launch", "unknown-command"},
        {"", "unknown-command"},
        {"windows now", "bad-request"},
        {"text", "bad-request"},
        {"text 1234", "bad-request"},
        {"text 0x1", "no-window"},
        {"click 0xzz", "bad-request"},
        {"type 0x1 a b", "bad-request"},
        {"key 0x1 RETURN", "no-window"},
        {"wait 1 -5", "bad-request"},
        {"route 1.2.3 80 127.0.0.1 1", "bad-request"},
        {"route 1.2.3.4 80 127.0.0.1 65536", "bad-request"},
        {"menu", "no-menu"},
        {"choose 40000", "no-menu"},
        {"list 0x1", "no-window"},
        {"holdclipboard 2", "bad-request"},
    };
    for (const Case &c : cases) {
        std::string status;
        std::vector<std::string> fields;
        ASSERT_TRUE(probe.Request(c.request, &status, &fields)) << c.request;
        EXPECT_EQ(status, c.reason) << "request: " << c.request;
    }
    std::string status;
    std::vector<std::string> fields;
    ASSERT_TRUE(probe.Request("type " + h + " a\\x4", &status, &fields));
    EXPECT_EQ(status, "bad-request") << "an escape cut short";
    ASSERT_TRUE(probe.Request("key " + h + " F13", &status, &fields));
    EXPECT_EQ(status, "unknown-key");
    ASSERT_TRUE(probe.Request("close " + h + "\r", &status, &fields));
    EXPECT_EQ(status, "ok") << "a CR before the LF is ignored";
    EXPECT_EQ(probe.WaitForExit(), kProbeExitCode);
}

// The change count moves on with a change, and a wait with nothing
// changing ends at its time-out with the same count.
TEST_F(Protocol, WaitReportsTheChangeCount) {
    ProgramDriver::Window w = Probe();
    ASSERT_TRUE(probe.Idle(w.hwnd));
    std::string status;
    std::vector<std::string> fields;
    ASSERT_TRUE(probe.Request("wait 0 0", &status, &fields));
    ASSERT_EQ(fields.size(), 1u);
    const std::string before = fields[0];
    ASSERT_TRUE(probe.Request("wait " + before + " 50", &status, &fields));
    EXPECT_EQ(fields, std::vector<std::string>{before});
    ASSERT_EQ(probe.Type(w.hwnd, "x"), "ok");
    ASSERT_TRUE(probe.Request("wait " + before + " 60000", &status, &fields));
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_NE(fields[0], before);
    EndProbe(w);
}

// A program whose driver goes ends: nobody could use it any more.
TEST_F(Protocol, LosingTheChannelEndsTheProgram) {
    Probe();
    probe.CloseChannel();
    EXPECT_EQ(probe.WaitForExit(), 2);
}

}  // namespace
