// ws2_32 sockets: exchanges over loopback, connect routes, the host-call
// table (faults and a whole exchange in memory), and stopping a thread that
// waits in a socket call.
#include <winsock2.h>
#include <windows.h>
#include <compat_os.h>
#include <compat_seams.h>
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "fake_service.h"
#include "leak_check.h"

namespace {

// An address no test network owns; routes send it where a test wants.
const char kRoutedAddress[] = "198.51.100.20";
const uint16_t kRoutedPort = 80;

sockaddr_in Endpoint(const char *addr, uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = NetworkPort(port);
    sa.sin_addr.s_addr = NetworkIpv4(addr);
    return sa;
}

int Connect(SOCKET s, const char *addr, uint16_t port) {
    sockaddr_in sa = Endpoint(addr, port);
    return connect(s, reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
}

std::string RequestBlock(const std::string &text) {
    std::string block(FakeService::kRequestSize, '\0');
    block.replace(0, text.size(), text);
    return block;
}

// Receives until the peer closes or a receive fails; the bytes received,
// and in *error the failure's code (0 when the peer closed).
std::string ReceiveAll(SOCKET s, int *error = nullptr) {
    std::string reply;
    char buf[512];
    for (;;) {
        int n = recv(s, buf, sizeof buf, 0);
        if (n == 0 || n == SOCKET_ERROR) {
            if (error) *error = n == 0 ? 0 : WSAGetLastError();
            return reply;
        }
        reply.append(buf, n);
    }
}

class SocketsTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
        EXPECT_EQ(data.wVersion, MAKEWORD(2, 0));
    }
    void TearDown() override {
        CompatRestoreOsCalls();
        CompatClearRoutes();
        EXPECT_EQ(WSACleanup(), 0);
    }

    LeakCheck leaks_;
};

TEST_F(SocketsTest, ConnectFollowsRoutes) {
    FakeService service;
    FakeService deaf;
    deaf.StopListening();
    struct Case {
        const char *name;
        bool route;        // kRoutedAddress:80 goes to 127.0.0.1:to_port
        uint16_t to_port;  // 0 refuses
        const char *addr;  // where the test connects
        uint16_t port;
        bool connects;
    } cases[] = {
        {"routed to the service", true, service.port(), kRoutedAddress, kRoutedPort, true},
        {"loopback, not routed", false, 0, "127.0.0.1", service.port(), true},
        {"routed to port 0", true, 0, kRoutedAddress, kRoutedPort, false},
        {"routed to a port nobody listens on", true, deaf.port(), kRoutedAddress, kRoutedPort, false},
    };
    int served = 0;
    for (const Case &c : cases) {
        CompatClearRoutes();
        if (c.route)
            CompatRouteConnect(NetworkIpv4(kRoutedAddress), NetworkPort(kRoutedPort),
                               NetworkIpv4("127.0.0.1"), NetworkPort(c.to_port));
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(s, INVALID_SOCKET) << c.name;
        int rc = Connect(s, c.addr, c.port);
        if (c.connects) {
            ASSERT_EQ(rc, 0) << c.name << ": error " << WSAGetLastError();
            const std::string request = RequestBlock("GET http://x/api?ip=10.0.0.1\n\r\n");
            EXPECT_EQ(send(s, request.data(), (int)request.size(), 0), (int)request.size()) << c.name;
            EXPECT_EQ(ReceiveAll(s), FakeService::ReplyText(false)) << c.name;
            ASSERT_TRUE(service.WaitForRequests(++served)) << c.name;
            EXPECT_EQ(service.Requests().back(), request) << c.name;
        } else {
            EXPECT_EQ(rc, SOCKET_ERROR) << c.name;
            EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED) << c.name;
        }
        EXPECT_EQ(closesocket(s), 0) << c.name;
    }
    EXPECT_EQ(service.Connections(), served);
    EXPECT_EQ(deaf.Connections(), 0);
}

TEST_F(SocketsTest, RefusedCallsSetTheirError) {
    SOCKET open = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(open, INVALID_SOCKET);
    SOCKET closed = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(closesocket(closed), 0);
    struct Call {
        const char *name;
        int (*run)(SOCKET open, SOCKET closed);
        int error;
    } calls[] = {
        {"socket, family 23",
         [](SOCKET, SOCKET) { return socket(23, SOCK_STREAM, 0) == INVALID_SOCKET ? SOCKET_ERROR : 0; },
         WSAEAFNOSUPPORT},
        {"socket, datagram",
         [](SOCKET, SOCKET) { return socket(AF_INET, 2, 0) == INVALID_SOCKET ? SOCKET_ERROR : 0; },
         10044 /* WSAESOCKTNOSUPPORT */},
        {"connect, closed socket",
         [](SOCKET, SOCKET closed) { return Connect(closed, "127.0.0.1", 9); }, WSAENOTSOCK},
        {"connect, short address",
         [](SOCKET open, SOCKET) {
             sockaddr_in sa = Endpoint("127.0.0.1", 9);
             return connect(open, (sockaddr *)&sa, 8);
         },
         WSAEFAULT},
        {"connect, family 23",
         [](SOCKET open, SOCKET) {
             sockaddr_in sa = Endpoint("127.0.0.1", 9);
             sa.sin_family = 23;
             return connect(open, (sockaddr *)&sa, sizeof sa);
         },
         WSAEAFNOSUPPORT},
        {"send, closed socket", [](SOCKET, SOCKET closed) { return send(closed, "abcd", 4, 0); }, WSAENOTSOCK},
        {"send, negative length", [](SOCKET open, SOCKET) { return send(open, "abcd", -1, 0); }, WSAEINVAL},
        {"recv, closed socket",
         [](SOCKET, SOCKET closed) {
             char b[4];
             return recv(closed, b, 4, 0);
         },
         WSAENOTSOCK},
        {"closesocket, closed socket", [](SOCKET, SOCKET closed) { return closesocket(closed); }, WSAENOTSOCK},
    };
    for (const Call &c : calls) {
        SetLastError(0);
        EXPECT_EQ(c.run(open, closed), SOCKET_ERROR) << c.name;
        EXPECT_EQ(WSAGetLastError(), c.error) << c.name;
        EXPECT_EQ(GetLastError(), (DWORD)c.error) << c.name << ": one error value for both";
    }
    EXPECT_EQ(closesocket(open), 0);
}

// ---- the host-call table ----

const int kMadeUpFd = 1 << 20;  // far above any real descriptor

// A scripted host: the exchange happens in memory unless a row points a call
// elsewhere. One script at a time; the test thread sets it up before use.
struct Script {
    int fd = kMadeUpFd;          // what tcp_socket hands out
    int socket_errno = 0;        // tcp_socket fails with this
    int connect_errno = 0;       // connect_ipv4 fails with this (EINPROGRESS: later)
    int pending = 0;             // pending_error's answer
    int send_errno = 0;          // send_bytes fails with this
    size_t send_cap = 0;         // send_bytes takes at most this many bytes (0: all)
    bool send_would_block = false;  // every other send_bytes call would block
    int recv_errno = 0;          // recv_bytes fails with this once the reply is out
    std::string reply;           // what recv_bytes yields, then 0
    size_t recv_cap = 0;

    // Observed.
    std::string sent;
    int send_calls = 0;
    std::vector<int> closed;
    size_t replied = 0;

    std::mutex mutex;
    std::condition_variable changed;
    bool connect_started = false;
};
Script *script = nullptr;

int ScriptSocket() {
    if (script->socket_errno) {
        errno = script->socket_errno;
        return -1;
    }
    return script->fd;
}
int ScriptConnect(int, uint32_t, uint16_t) {
    {
        std::lock_guard<std::mutex> lock(script->mutex);
        script->connect_started = true;
    }
    script->changed.notify_all();
    if (script->connect_errno) {
        errno = script->connect_errno;
        return -1;
    }
    return 0;
}
int ScriptPending(int) { return script->pending; }
ptrdiff_t ScriptSend(int fd, const void *data, size_t len) {
    if (script->send_errno) {
        errno = script->send_errno;
        return -1;
    }
    if (script->send_would_block && script->send_calls++ % 2 == 0) {
        errno = EAGAIN;
        return -1;
    }
    if (script->send_cap && len > script->send_cap) len = script->send_cap;
    if (fd != script->fd) return CompatHostOsCalls()->send_bytes(fd, data, len);
    script->sent.append(static_cast<const char *>(data), len);
    return static_cast<ptrdiff_t>(len);
}
ptrdiff_t ScriptRecv(int, void *data, size_t len) {
    size_t left = script->reply.size() - script->replied;
    if (left == 0 && script->recv_errno) {
        errno = script->recv_errno;
        return -1;
    }
    size_t n = std::min(left, len);
    if (script->recv_cap) n = std::min(n, script->recv_cap);
    std::memcpy(data, script->reply.data() + script->replied, n);
    script->replied += n;
    return static_cast<ptrdiff_t>(n);
}
int ScriptClose(int fd) {
    {
        std::lock_guard<std::mutex> lock(script->mutex);
        script->closed.push_back(fd);
    }
    return fd == kMadeUpFd ? 0 : CompatHostOsCalls()->close_fd(fd);
}

void InstallScript(Script &s) {
    script = &s;
    CompatOsCalls *os = CompatGetOsCalls();
    os->tcp_socket = ScriptSocket;
    os->connect_ipv4 = ScriptConnect;
    os->pending_error = ScriptPending;
    os->send_bytes = ScriptSend;
    os->recv_bytes = ScriptRecv;
    os->close_fd = ScriptClose;
}

// The way a fuzz target runs an exchange: no descriptor is ever real.
TEST_F(SocketsTest, WholeExchangeInMemory) {
    const long sockets_before = CompatGetResourceCounts().sockets;
    Script s;
    s.reply = FakeService::ReplyText(true);
    s.recv_cap = 10;
    InstallScript(s);

    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(sock, INVALID_SOCKET);
    EXPECT_NE(sock, (SOCKET)s.fd) << "a SOCKET is the layer's token, not the descriptor";
    EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before + 1);
    ASSERT_EQ(Connect(sock, kRoutedAddress, kRoutedPort), 0);
    const std::string request = RequestBlock("GET http://x/api?ip=1.2.3.4\n\r\n");
    EXPECT_EQ(send(sock, request.data(), (int)request.size(), 0), (int)request.size());
    EXPECT_EQ(s.sent, request);
    EXPECT_EQ(ReceiveAll(sock), s.reply);
    EXPECT_EQ(closesocket(sock), 0);
    EXPECT_EQ(s.closed, std::vector<int>{s.fd});
}

TEST_F(SocketsTest, HostFailuresBecomeWinsockErrors) {
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC), 0);
    const int writable = pipe_fds[1];  // ready at once for a connect's wait
    struct Case {
        const char *name;
        void (*set)(Script &, int writable);
        const char *fails;  // the call that fails
        int error;
    } cases[] = {
        {"no descriptors left", [](Script &s, int) { s.socket_errno = EMFILE; }, "socket", WSAEMFILE},
        {"refused at once", [](Script &s, int) { s.connect_errno = ECONNREFUSED; }, "connect", WSAECONNREFUSED},
        {"refused later",
         [](Script &s, int w) {
             s.fd = dup(w);
             s.connect_errno = EINPROGRESS;
             s.pending = ECONNREFUSED;
         },
         "connect", WSAECONNREFUSED},
        {"timed out later",
         [](Script &s, int w) {
             s.fd = dup(w);
             s.connect_errno = EINPROGRESS;
             s.pending = ETIMEDOUT;
         },
         "connect", WSAETIMEDOUT},
        {"unreachable", [](Script &s, int) { s.connect_errno = ENETUNREACH; }, "connect", WSAENETUNREACH},
        {"peer gone while sending", [](Script &s, int) { s.send_errno = EPIPE; }, "send", WSAECONNRESET},
        {"reset while receiving",
         [](Script &s, int) {
             s.reply = "part";
             s.recv_errno = ECONNRESET;
         },
         "recv", WSAECONNRESET},
    };
    for (const Case &c : cases) {
        Script s;
        c.set(s, writable);
        InstallScript(s);
        const std::string where = c.fails;
        SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        int rc = sock == INVALID_SOCKET ? SOCKET_ERROR : 0;
        if (rc == 0 && where != "socket") rc = Connect(sock, kRoutedAddress, kRoutedPort);
        if (rc == 0 && where != "connect") rc = send(sock, "x", 1, 0) == 1 ? 0 : SOCKET_ERROR;
        if (rc == 0 && where != "send") {
            int error = 0;
            EXPECT_EQ(ReceiveAll(sock, &error), s.reply) << c.name << ": bytes before the failure";
            rc = error ? SOCKET_ERROR : 0;
        }
        EXPECT_EQ(rc, SOCKET_ERROR) << c.name << ": " << c.fails << " should fail";
        EXPECT_EQ(WSAGetLastError(), c.error) << c.name;
        if (sock != INVALID_SOCKET) {
            EXPECT_EQ(closesocket(sock), 0) << c.name;
        }
        EXPECT_EQ(s.closed.size(), sock == INVALID_SOCKET ? 0u : 1u) << c.name;
        CompatRestoreOsCalls();
    }
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

TEST_F(SocketsTest, SendTakesEverythingAcrossShortAndBlockedWrites) {
    FakeService service;
    Script s;
    s.fd = -2;  // no made-up descriptor: every call below reaches the host
    s.send_cap = 100;
    s.send_would_block = true;
    InstallScript(s);
    CompatOsCalls *os = CompatGetOsCalls();
    os->tcp_socket = CompatHostOsCalls()->tcp_socket;
    os->connect_ipv4 = CompatHostOsCalls()->connect_ipv4;
    os->pending_error = CompatHostOsCalls()->pending_error;
    os->recv_bytes = CompatHostOsCalls()->recv_bytes;

    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(sock, INVALID_SOCKET);
    ASSERT_EQ(Connect(sock, "127.0.0.1", service.port()), 0) << WSAGetLastError();
    std::string request = RequestBlock("GET http://x/api?ip=5.6.7.8\n\r\n");
    for (size_t i = 40; i < request.size(); ++i) request[i] = static_cast<char>('a' + i % 26);
    EXPECT_EQ(send(sock, request.data(), (int)request.size(), 0), (int)request.size());
    EXPECT_GE(s.send_calls, 20) << "the host took the block in small pieces";
    EXPECT_EQ(ReceiveAll(sock), FakeService::ReplyText(false));
    EXPECT_EQ(closesocket(sock), 0);
    ASSERT_TRUE(service.WaitForRequests(1));
    EXPECT_EQ(service.Requests()[0], request);
}

// ---- sockets and the end of threads ----

SOCKET thread_socket = INVALID_SOCKET;
std::atomic<bool> connect_returned{false};

DWORD WINAPI OpenAndReturn(LPVOID) {
    thread_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return thread_socket == INVALID_SOCKET ? 1 : 0;
}

DWORD WINAPI ConnectAndSend(LPVOID) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Connect(s, kRoutedAddress, kRoutedPort);
    connect_returned = true;
    send(s, "late", 4, 0);
    closesocket(s);
    return 0;
}

TEST_F(SocketsTest, EndingThreadClosesOnlyItsOwnSockets) {
    SOCKET mine = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(mine, INVALID_SOCKET);
    HANDLE h = CreateThread(nullptr, 0, OpenAndReturn, nullptr, 0, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(WaitForSingleObject(h, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(h, &code);
    EXPECT_EQ(code, 0u) << "the thread made its socket";
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(closesocket(thread_socket), SOCKET_ERROR) << "the thread's socket closed with it";
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(mine), 0) << "the test thread's socket is still its own";
}

TEST_F(SocketsTest, TerminateThreadWaitingInConnect) {
    // The descriptor is a pipe's read end: it never becomes writable, so the
    // connect waits until the thread is stopped.
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC), 0);
    const long sockets_before = CompatGetResourceCounts().sockets;
    Script s;
    s.fd = dup(pipe_fds[0]);
    s.connect_errno = EINPROGRESS;
    InstallScript(s);
    connect_returned = false;

    HANDLE h = CreateThread(nullptr, 0, ConnectAndSend, nullptr, 0, nullptr);
    ASSERT_NE(h, nullptr);
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        ASSERT_TRUE(s.changed.wait_for(lock, std::chrono::seconds(30), [&] { return s.connect_started; }));
    }
    EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before + 1);
    EXPECT_TRUE(TerminateThread(h, 42));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0) << "ended when TerminateThread returned";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_FALSE(connect_returned) << "the thread went no further than its connect";
    EXPECT_EQ(s.sent, "") << "nothing was sent";
    EXPECT_EQ(s.closed, std::vector<int>{s.fd}) << "the descriptor was closed";
    EXPECT_EQ(CompatGetResourceCounts().sockets, sockets_before);
    EXPECT_TRUE(CloseHandle(h));
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

}  // namespace
