// The blacklist client against the fake service: the request block, the
// reply joined into the ReplyBuffer, its bounds, and stopping a query.
#include <winsock2.h>
#include <windows.h>
#include <compat_os.h>
#include <compat_seams.h>
#include <gtest/gtest.h>

#include <errno.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cstring>
#include <string>

#include "blacklist/blacklist_query.h"
#include "fake_service.h"
#include "leak_check.h"
#include "user_stand_in.h"

namespace {

// The request block as the service must receive it, built by hand.
std::string ExpectedRequest(const std::string &address) {
    std::string text = std::string("GET http://") + QV_SERVICE_HOST + "/api?ip=" + address + "\x0a\x0d\x0a";
    text.resize(FakeService::kRequestSize, '\0');
    return text;
}

// A reply of n bytes in the real shape as far as it goes, then a filler that
// shows where each byte landed.
std::string PatternReply(size_t n, bool listed) {
    std::string bytes = FakeService::ReplyText(listed);
    for (size_t i = bytes.size(); i < n; ++i) bytes += static_cast<char>('A' + i % 23);
    bytes.resize(n);
    return bytes;
}

// What the ReplyBuffer should hold after a reply: its bytes, then zeros.
std::string BufferAfter(const std::string &reply) {
    std::string buffer = reply.substr(0, REPLY_BUFFER_SIZE);
    buffer.resize(REPLY_BUFFER_SIZE, '\0');
    return buffer;
}

std::string Buffer() { return std::string(ReplyBuffer, REPLY_BUFFER_SIZE); }

// Where two buffers first differ, or "" when they are equal: short enough
// to read in a failure message, unlike two 2,048-byte dumps.
std::string FirstDifference(const std::string &got, const std::string &want) {
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            char text[80];
            std::snprintf(text, sizeof text, "byte %zu is 0x%02x, expected 0x%02x", i,
                          (unsigned char)got[i], (unsigned char)want[i]);
            return text;
        }
    }
    if (got.size() != want.size())
        return "length " + std::to_string(got.size()) + ", expected " + std::to_string(want.size());
    return "";
}

// Receives of the query pass through here: each hands back at most
// recv_cap bytes (0: no cap), and once recv_fail_after receives have
// brought bytes (-1: never) the next one fails with ECONNRESET.
std::atomic<size_t> recv_cap{0};
std::atomic<int> recv_fail_after{-1};
std::atomic<int> recv_pieces{0};
std::atomic<bool> recv_failed{false};
std::atomic<int> recv_calls_after_failure{0};
std::atomic<bool> recv_overran{false};

ptrdiff_t ObservedRecv(int fd, void *data, size_t len) {
    const char *p = static_cast<const char *>(data);
    if (p < ReplyBuffer || p + len > ReplyBuffer + REPLY_BUFFER_SIZE) recv_overran = true;
    if (recv_failed) {
        recv_calls_after_failure++;
        return 0;  // ends a loop that did not stop at the failure
    }
    if (recv_fail_after >= 0 && recv_pieces >= recv_fail_after) {
        recv_failed = true;
        errno = ECONNRESET;
        return -1;
    }
    if (recv_cap && len > recv_cap) len = recv_cap;
    ptrdiff_t n = CompatHostOsCalls()->recv_bytes(fd, data, len);
    if (n > 0) recv_pieces++;
    return n;
}

class BlacklistQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        service_.RouteServiceHere();
        recv_cap = 0;
        recv_fail_after = -1;
        recv_pieces = 0;
        recv_failed = false;
        recv_calls_after_failure = 0;
        recv_overran = false;
        CompatGetOsCalls()->recv_bytes = ObservedRecv;
        sockets_before_ = CompatGetResourceCounts().sockets;
    }
    void TearDown() override {
        CompatRestoreOsCalls();
        ClearServiceRoutes();
    }

    // Runs one query that must reach the service and checks what every such
    // query owes: the ReplyBuffer back, within its bounds, its socket closed.
    void Query(const std::string &address, const std::string &row) {
        char *reply = QueryBlacklist(address.c_str());
        EXPECT_EQ(reply, ReplyBuffer) << row;
        EXPECT_FALSE(recv_overran) << row << ": a receive reached past the ReplyBuffer";
        EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before_) << row << ": socket left open";
    }

    LeakCheck leaks_;
    FakeService service_;
    long sockets_before_ = 0;
};

TEST_F(BlacklistQueryTest, SendsTheExactRequestBlockAndReadsTheVerdict) {
    struct Case {
        const char *address;
        bool listed;
        char verdict;
    } cases[] = {
        {"192.0.2.7", true, 'y'},
        {"", false, 'n'},
        {"192.0.2.7", false, 'n'},  // asked again: a new connection, no cache
    };
    ASSERT_EQ(FakeService::ReplyText(true)[VERDICT_OFFSET], 'y');
    ASSERT_EQ(FakeService::ReplyText(false)[VERDICT_OFFSET], 'n');
    size_t n = 0;
    for (const Case &c : cases) {
        const std::string row = std::string("address \"") + c.address + "\"";
        service_.Answer(c.address, FakeService::Listed(c.listed));
        Query(c.address, row);
        EXPECT_EQ(ReplyBuffer[VERDICT_OFFSET], c.verdict) << row;
        EXPECT_EQ(FirstDifference(Buffer(), BufferAfter(FakeService::ReplyText(c.listed))), "") << row;
        ASSERT_TRUE(service_.WaitForClientCloses(++n)) << row;
        const FakeConnection seen = service_.Log().back();
        EXPECT_EQ(seen.request, ExpectedRequest(c.address)) << row;
        EXPECT_EQ(seen.after_request, "") << row << ": bytes after the block";
    }
    EXPECT_EQ(service_.Connections(), 3);
}

TEST_F(BlacklistQueryTest, ReplyInPiecesIsJoinedInOrder) {
    struct Case {
        size_t piece;  // the service sends pieces of this size
        size_t cap;    // each receive takes at most this much
    } cases[] = {{1, 0}, {7, 0}, {53, 0}, {54, 0}, {0, 1}, {0, 13}, {100, 9}};
    const std::string reply = PatternReply(700, true);
    for (const Case &c : cases) {
        const std::string row = "pieces of " + std::to_string(c.piece) + ", receives of " + std::to_string(c.cap);
        service_.SetDefault(FakeReply{reply, c.piece});
        recv_cap = c.cap;
        recv_pieces = 0;
        Query("198.51.100.1", row);
        EXPECT_EQ(FirstDifference(Buffer(), BufferAfter(reply)), "") << row;
        if (c.cap) {
            EXPECT_GE(recv_pieces, (int)(reply.size() / c.cap)) << row;
        }
    }
}

TEST_F(BlacklistQueryTest, LongReplyIsCutAtTheBufferEnd) {
    const size_t lengths[] = {REPLY_BUFFER_SIZE - 1, REPLY_BUFFER_SIZE, REPLY_BUFFER_SIZE + 1, 5000, 100000};
    size_t n = 0;
    for (size_t length : lengths) {
        const std::string row = "reply of " + std::to_string(length) + " bytes";
        const std::string reply = PatternReply(length, true);
        service_.SetDefault(FakeReply{reply, 1000});
        Query("198.51.100.2", row);
        EXPECT_EQ(FirstDifference(Buffer(), BufferAfter(reply)), "") << row;
        EXPECT_EQ(ReplyBuffer[VERDICT_OFFSET], 'y') << row;
        ASSERT_TRUE(service_.WaitForClientCloses(++n)) << row << ": the connection was not closed";
    }
}

TEST_F(BlacklistQueryTest, ShortReplyLeavesNoEarlierVerdict) {
    const std::string replies[] = {"", "<resp", PatternReply(VERDICT_OFFSET, true)};
    for (const std::string &short_reply : replies) {
        const std::string row = "reply of " + std::to_string(short_reply.size()) + " bytes";
        service_.SetDefault(FakeService::Listed(true));
        Query("203.0.113.1", row + ", the full one before");
        ASSERT_EQ(ReplyBuffer[VERDICT_OFFSET], 'y') << row;
        service_.SetDefault(FakeReply{short_reply});
        Query("203.0.113.2", row);
        EXPECT_EQ(ReplyBuffer[VERDICT_OFFSET], '\0') << row;
        EXPECT_EQ(FirstDifference(Buffer(), BufferAfter(short_reply)), "") << row;
    }
    // One byte more holds a verdict of its own.
    std::string exact = PatternReply(VERDICT_OFFSET, true) + "n";
    service_.SetDefault(FakeReply{exact});
    Query("203.0.113.3", "reply of 54 bytes");
    EXPECT_EQ(ReplyBuffer[VERDICT_OFFSET], 'n');
}

TEST_F(BlacklistQueryTest, FailedReceiveEndsTheReply) {
    const std::string reply = PatternReply(300, false);
    service_.SetDefault(FakeReply{reply});
    recv_cap = 60;
    recv_fail_after = 1;  // one piece arrives, then the connection is reset
    Query("192.0.2.44", "reset after one piece");
    EXPECT_EQ(FirstDifference(Buffer(), BufferAfter(reply.substr(0, 60))), "");
    EXPECT_EQ(ReplyBuffer[VERDICT_OFFSET], 'n');
    EXPECT_TRUE(recv_failed);
    EXPECT_EQ(recv_calls_after_failure, 0) << "a receive after the failure";
}

int FailingSocket() {
    errno = EMFILE;
    return -1;
}

int UnreachableConnect(int, uint32_t, uint16_t) {
    errno = ENETUNREACH;
    return -1;
}

TEST_F(BlacklistQueryTest, FailedConnectionShowsOneMessageAndLeavesTheBuffer) {
    FakeService deaf;
    deaf.StopListening();
    struct Case {
        const char *name;
        void (*arrange)(uint16_t deaf_port);
    } cases[] = {
        {"route refused", [](uint16_t) { RouteServiceRefused(); }},
        {"nobody listening", [](uint16_t port) { RouteServiceTo(port); }},
        {"no socket", [](uint16_t) { CompatGetOsCalls()->tcp_socket = FailingSocket; }},
        {"network unreachable", [](uint16_t) { CompatGetOsCalls()->connect_ipv4 = UnreachableConnect; }},
    };
    AutoDismisser user;
    size_t boxes = 0;
    for (const Case &c : cases) {
        c.arrange(deaf.port());
        std::memset(ReplyBuffer, 0x5a, sizeof ReplyBuffer);
        const std::string before = Buffer();

        EXPECT_EQ(QueryBlacklist("192.0.2.7"), nullptr) << c.name;
        ++boxes;
        ASSERT_TRUE(user.WaitForCount(boxes)) << c.name << ": no message box";
        EXPECT_EQ(user.Count(), boxes) << c.name << ": more than one message box";
        const MessageBoxSeen box = user.Seen().back();
        EXPECT_EQ(box.text, "连接spam服务器失败！") << c.name;
        EXPECT_EQ(box.caption, "警告") << c.name;
        EXPECT_EQ(box.style, (UINT)(MB_ICONERROR | MB_SYSTEMMODAL)) << c.name;
        EXPECT_EQ(box.owner, nullptr) << c.name;
        EXPECT_EQ(box.thread_id, GetCurrentThreadId()) << c.name << ": shown by the querying thread";
        EXPECT_EQ(FirstDifference(Buffer(), before), "") << c.name << ": the ReplyBuffer was touched";
        EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before_) << c.name << ": socket left open";
        CompatRestoreOsCalls();
        CompatGetOsCalls()->recv_bytes = ObservedRecv;
        service_.RouteServiceHere();
    }
    EXPECT_EQ(service_.Connections(), 0);
    EXPECT_EQ(deaf.Connections(), 0);
}

std::atomic<bool> query_returned{false};

DWORD WINAPI QueryWorker(LPVOID address) {
    QueryBlacklist(static_cast<const char *>(address));
    query_returned = true;
    QueryBlacklist("should never be asked");
    return 0;
}

TEST_F(BlacklistQueryTest, TerminateThreadWaitingForTheReply) {
    service_.SetDefault(FakeReply{FakeService::ReplyText(true), 0, true});
    query_returned = false;
    static char address[] = "192.0.2.9";
    HANDLE h = CreateThread(nullptr, 0, QueryWorker, address, 0, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(service_.WaitForStalled(1)) << "the query never reached the service";
    EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before_ + 1);

    EXPECT_TRUE(TerminateThread(h, 5));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0) << "ended when TerminateThread returned";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 5u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(query_returned);
    EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before_) << "the socket was released";

    ASSERT_TRUE(service_.WaitForClientCloses(1)) << "the connection stayed open";
    // The service takes connections in the order they come, so a query of
    // our own shows whether the stopped thread made another one before it.
    service_.SetDefault(FakeService::Listed(false));
    Query("marker", "the query after the stop");
    ASSERT_TRUE(service_.WaitForServed(2));
    const std::vector<FakeConnection> log = service_.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].request, ExpectedRequest(address));
    EXPECT_EQ(log[0].after_request, "") << "something was sent after the request";
    EXPECT_EQ(log[1].address, "marker") << "the stopped thread made a further connection";
}

}  // namespace
