// Windows Sockets on the host's TCP sockets.
//
// A SOCKET is a token of our own that names a host descriptor; descriptors
// are never handed out, so a stale or made-up SOCKET is refused rather than
// touching an unrelated file. Every call that would block is a non-blocking
// attempt plus a wait in compat::wait_until, which TerminateThread ends by
// unwinding the thread. The program, not the layer, owns its SOCKETs and
// would lose them in such an unwind, so each socket remembers the thread
// that made it and the layer closes those still open when a layer thread
// ends.
#include <winsock2.h>

#include <errno.h>
#include <poll.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/counters.h"
#include "core/exit_hooks.h"
#include "core/thread_record.h"
#include "os/os_calls.h"
#include "ws2_32/routes.h"
#include "ws2_32/wsa_errors.h"

namespace compat {

int wsa_error_from_errno(int error) {
    switch (error) {
    case EINTR: return WSAEINTR;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;  // the peer is gone: Winsock reports a reset
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAENETDOWN;  // no closer Winsock meaning
    }
}

namespace {

struct SocketObject {
    SocketObject(int descriptor, DWORD thread) : fd(descriptor), owner(thread) {}
    // The descriptor goes when the last user lets go, so a call still
    // running on another thread never sees its number reused.
    ~SocketObject() { os().close_fd(fd); }
    SocketObject(const SocketObject &) = delete;
    SocketObject &operator=(const SocketObject &) = delete;

    const int fd;
    const DWORD owner;  // the thread that made it
};

std::mutex sockets_mutex;
std::unordered_map<SOCKET, std::shared_ptr<SocketObject>> &sockets() {
    static auto *table = new std::unordered_map<SOCKET, std::shared_ptr<SocketObject>>();
    return *table;
}
// Multiples of 4 as Win32 handles are, and never reused, so a SOCKET closed
// long ago cannot name a newer socket.
SOCKET next_socket = 0x20000;

std::atomic<int> startup_count{0};

// Sets the thread's error, as WSASetLastError does, and returns the
// failure value of the calling function.
int fail(int code) {
    SetLastError(static_cast<DWORD>(code));
    return SOCKET_ERROR;
}

std::shared_ptr<SocketObject> find_socket(SOCKET s) {
    std::lock_guard<std::mutex> lock(sockets_mutex);
    auto it = sockets().find(s);
    return it == sockets().end() ? nullptr : it->second;
}

// Takes the socket out of the table; the descriptor closes once nobody uses it.
std::shared_ptr<SocketObject> remove_socket(SOCKET s) {
    std::shared_ptr<SocketObject> doomed;
    {
        std::lock_guard<std::mutex> lock(sockets_mutex);
        auto it = sockets().find(s);
        if (it == sockets().end()) return nullptr;
        doomed = std::move(it->second);
        sockets().erase(it);
    }
    live().sockets.fetch_sub(1);
    return doomed;
}

// On the end of a layer thread: close what the thread's code left open,
// including sockets that an unwinding stop request tore out of its hands.
void close_sockets_of(ThreadRecord &t) {
    std::vector<std::shared_ptr<SocketObject>> doomed;  // closed after the lock
    {
        std::lock_guard<std::mutex> lock(sockets_mutex);
        for (auto it = sockets().begin(); it != sockets().end();) {
            if (it->second->owner == t.id) {
                doomed.push_back(std::move(it->second));
                it = sockets().erase(it);
            } else {
                ++it;
            }
        }
    }
    live().sockets.fetch_sub(static_cast<long>(doomed.size()));
}

const bool hook_added = add_thread_exit_hook(close_sockets_of);

// Waits, stoppably, until the descriptor is ready for `events` (or has an
// error or hang-up to report, which the next call then returns).
void wait_for(int fd, short events) {
    wait_until([] { return false; }, fd, events);
}

}  // namespace

}  // namespace compat

using namespace compat;

int WINAPI WSAStartup(WORD requested, LPWSADATA data) {
    stop_point();
    if (!data) return WSAEFAULT;
    const BYTE major = static_cast<BYTE>(requested & 0xff);
    const BYTE minor = static_cast<BYTE>(requested >> 8);
    if (major == 0) return WSAVERNOTSUPPORTED;
    const WORD highest = MAKEWORD(2, 2);
    memset(data, 0, sizeof *data);
    data->wVersion = (major > 2 || (major == 2 && minor > 2)) ? highest : requested;
    data->wHighVersion = highest;
    strcpy(data->szDescription, "WinSock 2.0");
    strcpy(data->szSystemStatus, "Running");
    startup_count.fetch_add(1);
    return 0;
}

int WINAPI WSACleanup(void) {
    stop_point();
    int count = startup_count.load();
    while (count > 0 && !startup_count.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) return fail(WSANOTINITIALISED);
    return 0;
}

int WINAPI WSAGetLastError(void) { return static_cast<int>(GetLastError()); }

SOCKET WINAPI socket(int af, int type, int protocol) {
    stop_point();
    int refusal = 0;
    if (startup_count.load() <= 0)
        refusal = WSANOTINITIALISED;
    else if (af != AF_INET)
        refusal = WSAEAFNOSUPPORT;
    else if (type != SOCK_STREAM)
        refusal = WSAESOCKTNOSUPPORT;
    else if (protocol != 0 && protocol != IPPROTO_TCP)
        refusal = WSAEPROTONOSUPPORT;
    if (refusal) {
        fail(refusal);
        return INVALID_SOCKET;
    }
    const int fd = os().tcp_socket();
    if (fd < 0) {
        fail(wsa_error_from_errno(errno));
        return INVALID_SOCKET;
    }
    auto object = std::make_shared<SocketObject>(fd, current_thread().id);
    SOCKET s;
    {
        std::lock_guard<std::mutex> lock(sockets_mutex);
        s = next_socket;
        next_socket += 4;
        sockets()[s] = std::move(object);
    }
    live().sockets.fetch_add(1);
    return s;
}

int WINAPI connect(SOCKET s, const struct sockaddr *name, int namelen) {
    stop_point();
    if (startup_count.load() <= 0) return fail(WSANOTINITIALISED);
    auto sock = find_socket(s);
    if (!sock) return fail(WSAENOTSOCK);
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return fail(WSAEFAULT);
    sockaddr_in target;
    memcpy(&target, name, sizeof target);
    if (target.sin_family != AF_INET) return fail(WSAEAFNOSUPPORT);
    ULONG addr = target.sin_addr.s_addr;
    u_short port = target.sin_port;
    if (!apply_route(addr, port)) return fail(WSAECONNREFUSED);

    if (os().connect_ipv4(sock->fd, addr, port) == 0) return 0;
    // On a non-blocking socket an interrupted connect goes on in the
    // background, just like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) return fail(wsa_error_from_errno(errno));
    wait_for(sock->fd, POLLOUT);
    const int outcome = os().pending_error(sock->fd);
    if (outcome < 0) return fail(wsa_error_from_errno(errno));
    if (outcome > 0) return fail(wsa_error_from_errno(outcome));
    return 0;
}

int WINAPI send(SOCKET s, const char *buf, int len, int flags) {
    stop_point();
    if (startup_count.load() <= 0) return fail(WSANOTINITIALISED);
    auto sock = find_socket(s);
    if (!sock) return fail(WSAENOTSOCK);
    if (flags != 0) return fail(WSAEOPNOTSUPP);  // no out-of-band or routing options
    if (len < 0) return fail(WSAEINVAL);
    if (!buf && len > 0) return fail(WSAEFAULT);
    // A blocking send returns once all of it has been taken.
    int sent = 0;
    while (sent < len) {
        ptrdiff_t n = os().send_bytes(sock->fd, buf + sent, static_cast<size_t>(len - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return fail(wsa_error_from_errno(errno));
        wait_for(sock->fd, POLLOUT);
    }
    return sent;
}

int WINAPI recv(SOCKET s, char *buf, int len, int flags) {
    stop_point();
    if (startup_count.load() <= 0) return fail(WSANOTINITIALISED);
    auto sock = find_socket(s);
    if (!sock) return fail(WSAENOTSOCK);
    if (flags != 0) return fail(WSAEOPNOTSUPP);  // no peeking or out-of-band data
    if (len < 0) return fail(WSAEINVAL);
    if (!buf && len > 0) return fail(WSAEFAULT);
    for (;;) {
        ptrdiff_t n = os().recv_bytes(sock->fd, buf, static_cast<size_t>(len));
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return fail(wsa_error_from_errno(errno));
        wait_for(sock->fd, POLLIN);
    }
}

int WINAPI closesocket(SOCKET s) {
    stop_point();
    if (startup_count.load() <= 0) return fail(WSANOTINITIALISED);
    if (!remove_socket(s)) return fail(WSAENOTSOCK);
    return 0;
}
