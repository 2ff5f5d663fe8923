// The check run: how the input text becomes queries, how a reply and a
// location become a result line, and the failure rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine_harness.h"
#include "fake_service.h"
#include "leak_check.h"
#include "memory_network.h"
#include "qqwry_builder.h"
#include "run_state.h"
#include "user_stand_in.h"

namespace {

std::string Join(const std::vector<std::string> &items) {
    std::string out;
    for (const std::string &s : items) out += "[" + s + "]";
    return out;
}

std::vector<std::string> AddressesAsked(const FakeService &service) {
    std::vector<std::string> addresses;
    for (const FakeConnection &c : service.Log()) addresses.push_back(c.address);
    return addresses;
}

// A database in which every address lies in one range.
void WriteWorldDb() {
    QqwryBuilder db;
    db.Add(Ip(0, 0, 0, 0), Ip(255, 255, 255, 255), "中国", "北京");
    db.Write();
}

TEST(CheckRun, LinesOfTheInputBecomeQueries) {
    struct Case {
        const char *name;
        std::string text;
        std::vector<std::string> asked;
    } cases[] = {
        {"CR LF between, none at the end", "192.0.2.7\r\n192.0.2.8", {"192.0.2.7", "192.0.2.8"}},
        {"one final line break starts no line", "192.0.2.7\r\n", {"192.0.2.7"}},
        {"two final line breaks: an empty last line", "192.0.2.7\r\n\r\n", {"192.0.2.7", ""}},
        {"blank line between", "a\r\n\r\nb", {"a", "", "b"}},
        {"leading CR LF", "\r\na", {"", "a"}},
        {"leading bare LF", "\na", {"", "a"}},
        {"bare LFs", "a\n\nb", {"a", "", "b"}},
        {"spaces dropped anywhere", " 192.0. 2.7 ", {"192.0.2.7"}},
        {"spaces alone", "   ", {""}},
        {"a tab stays", "192.0.2.7\t", {"192.0.2.7\t"}},
        {"only one CR is cut", "a\r\r\nb", {"a\r", "b"}},
        {"twenty characters and a CR", "12345678901234567890\r\nx", {"12345678901234567890", "x"}},
        {"nineteen characters and a CR", "1234567890123456789\r", {"1234567890123456789"}},
        {"longer lines are cut at twenty", "1234567890123456789012345\r\nx",
         {"12345678901234567890", "x"}},
        {"a cut never halves a character", "1234567890123456789中国", {"1234567890123456789"}},
    };
    for (const Case &c : cases) {
        TempWorkDir dir;
        WriteWorldDb();
        LeakCheck leaks;
        FakeService service;
        service.RouteServiceHere();
        EngineRun run;
        EXPECT_EQ(run.RunToEnd(c.text), 0u) << c.name;
        EXPECT_EQ(Join(AddressesAsked(service)), Join(c.asked)) << c.name;
        EXPECT_EQ(run.Lines().size(), c.asked.size()) << c.name;
        run.Release();
        ClearServiceRoutes();
    }
}

TEST(CheckRun, EmptyTextChecksNothing) {
    TempWorkDir dir;
    LeakCheck leaks;
    FakeService service;
    service.RouteServiceHere();
    EngineRun run;
    EXPECT_EQ(run.RunToEnd(""), 0u);
    EXPECT_EQ(service.Connections(), 0);
    EXPECT_TRUE(run.Lines().empty());
    run.Release();
    ClearServiceRoutes();
}

TEST(CheckRun, ResultLineFormats) {
    const std::string reply_y = FakeService::ReplyText(true);
    std::string upper = reply_y;
    upper[53] = 'Y';
    struct Case {
        const char *name;
        std::string address;
        std::string reply;
        std::string line;
    } cases[] = {
        {"listed", "192.0.2.7", FakeService::ReplyText(true), "ip 192.0.2.7   在黑名单中   美国 加州"},
        {"not listed", "192.0.2.7", FakeService::ReplyText(false),
         "ip 192.0.2.7   不在黑名单   美国 加州"},
        {"upper-case verdict is none", "192.0.2.7", upper, ""},
        {"a reply too short for a verdict", "192.0.2.7", reply_y.substr(0, 53), ""},
        {"the empty address", "", FakeService::ReplyText(false), "ip    不在黑名单   中国 北京"},
    };
    for (const Case &c : cases) {
        TempWorkDir dir;
        QqwryBuilder db;
        db.Add(Ip(0, 0, 0, 0), Ip(192, 0, 2, 255), "美国", "加州");
        db.Add(Ip(255, 255, 255, 255), Ip(255, 255, 255, 255), "中国", "北京");
        db.Write();
        LeakCheck leaks;
        FakeService service;
        service.RouteServiceHere();
        // A full reply first, so a short one cannot borrow its verdict.
        service.SetPolicy([&](const std::string &a) {
            return a == "first" ? FakeService::Listed(true) : FakeReply{c.reply};
        });
        EngineRun run;
        run.RunToEnd("first\r\n" + c.address + "\r\n");
        // "first" is no address: it is looked up as 255.255.255.255.
        std::vector<std::string> expected = {"ip first   在黑名单中   中国 北京", c.line};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Join(run.Lines()), Join(expected)) << c.name;
        run.Release();
        ClearServiceRoutes();
    }
}

TEST(CheckRun, LongLocationTextsAreCutOnAWholeCharacter) {
    TempWorkDir dir;
    std::string country;
    for (int i = 0; i < 40; ++i) country += "国";  // 80 bytes
    QqwryBuilder db;
    db.Add(Ip(0, 0, 0, 0), Ip(255, 255, 255, 255), country, "很长的地区名称很长的地区名称");
    db.Write();
    LeakCheck leaks;
    FakeService service;
    service.RouteServiceHere();
    EngineRun run;
    run.RunToEnd("1.2.3.4");
    std::vector<std::string> lines = run.Lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string head = "ip 1.2.3.4   不在黑名单   ";
    EXPECT_LE(lines[0].size(), 99u);
    EXPECT_EQ(lines[0].substr(0, head.size()), head);
    // Every byte after the head belongs to whole two-byte characters.
    std::string rest = lines[0].substr(head.size());
    EXPECT_EQ(rest.size() % 2, 0u) << rest;
    EXPECT_EQ(rest.substr(0, 8), "国国国国");
    run.Release();
    ClearServiceRoutes();
}

TEST(CheckRun, WithoutResultsWindowEveryAddressIsStillQueried) {
    TempWorkDir dir;
    WriteWorldDb();
    LeakCheck leaks;
    FakeService service;
    service.RouteServiceHere();
    EngineRun run(false);
    EXPECT_EQ(run.RunToEnd("1.1.1.1\r\n2.2.2.2"), 0u);
    EXPECT_EQ(service.Connections(), 2);
    run.Release();
    ClearServiceRoutes();
}

TEST(CheckRun, MissingDatabaseWarnsOncePerRunAndLinesGoOn) {
    TempWorkDir dir;  // no qqwry.dat here
    LeakCheck leaks;
    FakeService service;
    service.RouteServiceHere();
    AutoDismisser user;
    for (int runNumber = 0; runNumber < 2; ++runNumber) {
        EngineRun run;
        EXPECT_EQ(run.RunToEnd("1.1.1.1\r\n2.2.2.2"), 0u);
        std::vector<std::string> lines = run.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "ip 1.1.1.1   不在黑名单    Unknown");
        run.Release();
        std::vector<MessageBoxSeen> boxes = user.Seen();
        ASSERT_EQ(boxes.size(), static_cast<size_t>(runNumber + 1)) << "run " << runNumber;
        EXPECT_EQ(boxes.back().caption, "警告");
        EXPECT_NE(boxes.back().text.find("qqwry.dat"), std::string::npos);
        EXPECT_EQ(boxes.back().style & 0xF0u, static_cast<UINT>(MB_ICONERROR));
    }
    ClearServiceRoutes();
}

// The first failed query of the process costs its line; the second, in the
// same run or a later one, ends the run on the spot.
TEST(CheckRun, FailureRuleAcrossTwoRuns) {
    TempWorkDir dir;
    WriteWorldDb();
    LeakCheck leaks;
    AutoDismisser user;
    ASSERT_EQ(FailureCount, 0u);
    {
        MemoryNetwork net;
        net.SetRefused([](size_t connection) { return connection == 0; });
        EngineRun run;
        EXPECT_EQ(run.RunToEnd("1.1.1.1\r\n5.5.5.5"), 0u) << "the first failure ends nothing";
        EXPECT_EQ(Join(run.Lines()), "[ip 5.5.5.5   不在黑名单   中国 北京]");
        run.Release();
    }
    EXPECT_EQ(FailureCount, 1u);
    {
        MemoryNetwork net;
        net.SetRefused([](size_t connection) { return connection == 1; });
        EngineRun run;
        EXPECT_EQ(run.RunToEnd("2.2.2.2\r\n3.3.3.3\r\n4.4.4.4"), static_cast<DWORD>(STILL_ACTIVE));
        EXPECT_EQ(Join(run.Lines()), "[ip 2.2.2.2   不在黑名单   中国 北京]");
        EXPECT_EQ(Join(net.Addresses()), "[2.2.2.2]") << "nothing is asked after the second failure";
        run.Release();
    }
    EXPECT_EQ(FailureCount, 2u);
    std::vector<MessageBoxSeen> boxes = user.Seen();
    ASSERT_EQ(boxes.size(), 2u);
    for (const MessageBoxSeen &box : boxes) {
        EXPECT_EQ(box.text, "连接spam服务器失败！");
        EXPECT_EQ(box.caption, "警告");
        EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONERROR | MB_SYSTEMMODAL));
    }
}

}  // namespace
