// Wildcard lines: which addresses a line stands for, in which order, the
// refusal of too large a range, and who releases the range's list.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine_harness.h"
#include "leak_check.h"
#include "memory_network.h"
#include "qqwry_builder.h"
#include "run_state.h"
#include "user_stand_in.h"

namespace {

// The addresses f(0) .. f(255).
std::vector<std::string> Range(std::function<std::string(int)> f) {
    std::vector<std::string> out;
    for (int v = 0; v < 256; ++v) out.push_back(f(v));
    return out;
}

std::vector<std::string> Range2(std::function<std::string(int, int)> f) {
    std::vector<std::string> out;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) out.push_back(f(a, b));
    return out;
}

std::string S(int v) { return std::to_string(v); }

// The first difference between two address lists, for a readable failure.
std::string FirstDifference(const std::vector<std::string> &got, const std::vector<std::string> &want) {
    size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i)
        if (got[i] != want[i]) return "at " + std::to_string(i) + ": got [" + got[i] + "], want [" + want[i] + "]";
    if (got.size() != want.size())
        return "got " + std::to_string(got.size()) + " addresses, want " + std::to_string(want.size());
    return "";
}

class WildcardTest : public ::testing::Test {
protected:
    void SetUp() override {
        QqwryBuilder db;
        db.Add(Ip(0, 0, 0, 0), Ip(255, 255, 255, 255), "中国", "北京");
        db.Write();
    }
    TempWorkDir dir_;
};

TEST_F(WildcardTest, LinesStandForTheirRanges) {
    struct Case {
        const char *line;
        std::vector<std::string> asked;
    } cases[] = {
        {"1.2.3.*", Range([](int v) { return "1.2.3." + S(v); })},
        {"*.2.3.4", Range([](int v) { return S(v) + ".2.3.4"; })},
        {"1.2.*5.6", Range([](int v) { return "1.2." + S(v) + ".6"; })},
        {"1234.*", Range([](int v) { return "123." + S(v) + ".."; })},
        {"*", Range([](int v) { return S(v) + "..."; })},
        {"1.2.*", Range([](int v) { return "1.2." + S(v) + "."; })},
        {"1.2345.*", Range([](int v) { return "1.234." + S(v) + "."; })},
        {"1.2.3.4*", {"1.2.3.4*"}},
        {"1.2.3.4.*", {"1.2.3.4"}},
        {"1.2.*.*", Range2([](int a, int b) { return "1.2." + S(a) + "." + S(b); })},
        {"*.1.*.3", Range2([](int a, int b) { return S(a) + ".1." + S(b) + ".3"; })},
    };
    for (const Case &c : cases) {
        LeakCheck leaks;
        MemoryNetwork net;
        EngineRun run;
        EXPECT_EQ(run.RunToEnd(c.line), 0u) << c.line;
        EXPECT_EQ(FirstDifference(net.Addresses(), c.asked), "") << c.line;
        EXPECT_EQ(run.Lines().size(), c.asked.size()) << c.line;
        EXPECT_EQ(::Run.wildcardList, nullptr) << c.line << ": the expansion releases its list";
        run.Release();
    }
}

TEST_F(WildcardTest, EachLineIsSplitOnItsOwn) {
    LeakCheck leaks;
    MemoryNetwork net;
    EngineRun run;
    EXPECT_EQ(run.RunToEnd("192.168.100.*\r\n10.0.0.*"), 0u);
    std::vector<std::string> want = Range([](int v) { return "192.168.100." + S(v); });
    std::vector<std::string> second = Range([](int v) { return "10.0.0." + S(v); });
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(FirstDifference(net.Addresses(), want), "");
    run.Release();
}

TEST_F(WildcardTest, TooLargeRangesAreRefusedAndEndTheRun) {
    for (const char *line : {"*.*.*.1", "*.*.*.*"}) {
        LeakCheck leaks;
        AutoDismisser user;
        MemoryNetwork net;
        EngineRun run;
        std::string text = std::string("1.1.1.1\r\n") + line + "\r\n2.2.2.2";
        EXPECT_EQ(run.RunToEnd(text), static_cast<DWORD>(STILL_ACTIVE)) << line;
        EXPECT_EQ(FirstDifference(net.Addresses(), {"1.1.1.1"}), "") << line;
        EXPECT_EQ(::Run.wildcardList, nullptr) << line;
        std::vector<MessageBoxSeen> boxes = user.Seen();
        ASSERT_EQ(boxes.size(), 1u) << line;
        EXPECT_EQ(boxes[0].text, "无法一次查询这么多IP");
        EXPECT_EQ(boxes[0].caption, "警告");
        EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes[0].thread_id, GetThreadId(run.worker())) << "the worker shows it";
        run.Release();
    }
}

// When the worker ends in the middle of a range, the list stays recorded for
// the results window to release, once (Release() fails on a second free).
TEST_F(WildcardTest, ListHeldWhenTheFailureRuleEndsARange) {
    LeakCheck leaks;
    AutoDismisser user;
    FailureCount = 1;  // an earlier run of the process failed once
    MemoryNetwork net;
    net.SetRefused([](size_t connection) { return connection == 5; });
    EngineRun run;
    EXPECT_EQ(run.RunToEnd("1.2.3.*\r\n9.9.9.9"), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(net.Addresses().size(), 5u);
    EXPECT_EQ(run.Lines().size(), 5u);
    EXPECT_NE(::Run.wildcardList, nullptr);
    run.Release();
    EXPECT_EQ(::Run.wildcardList, nullptr);
}

TEST_F(WildcardTest, ListHeldWhenTheWorkerIsStoppedInARange) {
    LeakCheck leaks;
    MemoryNetwork net;
    EngineRun run;
    run.Start("1.2.*.*");
    ASSERT_TRUE(run.PumpUntil([&] { return run.Lines().size() >= 100; }));
    run.Stop();
    size_t asked = net.Addresses().size();
    EXPECT_LT(asked, 65536u);
    EXPECT_NE(::Run.wildcardList, nullptr);
    run.Release();
    EXPECT_EQ(net.Addresses().size(), asked) << "nothing is asked after the stop";
}

TEST_F(WildcardTest, RefusalAfterAnEarlierRangeHoldsNoList) {
    LeakCheck leaks;
    AutoDismisser user;
    MemoryNetwork net;
    EngineRun run;
    EXPECT_EQ(run.RunToEnd("1.2.3.*\r\n*.*.*.1"), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(net.Addresses().size(), 256u);
    EXPECT_EQ(::Run.wildcardList, nullptr);
    run.Release();
}

}  // namespace
