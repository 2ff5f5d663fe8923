#include <winsock2.h>
#include <windows.h>

#include "host_socket.h"

namespace {

// Winsock is started once for the whole test process and stays up.
void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SOCKET S(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

bool NonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

}  // namespace

int HostBoundSocket(uint16_t port) {
    StartWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    // Not SO_REUSEADDR: on Windows it lets a second socket take a port in
    // use. A socket that holds its port alone is what the service needs.
    sockaddr_in sa = Loopback(port);
    if (!NonBlocking(s) || bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

bool HostListen(int fd, int backlog) { return listen(S(fd), backlog) == 0; }

uint16_t HostLocalPort(int fd) {
    sockaddr_in sa{};
    int size = sizeof sa;
    if (getsockname(S(fd), reinterpret_cast<sockaddr *>(&sa), &size) != 0) return 0;
    return ntohs(sa.sin_port);
}

int HostAccept(int listener) {
    SOCKET s = accept(S(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return -1;
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    if (!NonBlocking(s)) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

ptrdiff_t HostRecv(int fd, void *data, size_t len) {
    int n = recv(S(fd), static_cast<char *>(data), static_cast<int>(len), 0);
    return n == SOCKET_ERROR ? -1 : n;
}
ptrdiff_t HostSend(int fd, const void *data, size_t len) {
    int n = send(S(fd), static_cast<const char *>(data), static_cast<int>(len), 0);
    return n == SOCKET_ERROR ? -1 : n;
}
bool HostRetryLater() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}
void HostShutdownWrite(int fd) { shutdown(S(fd), SD_SEND); }
void HostClose(int fd) { closesocket(S(fd)); }

int HostPoll(HostPollEntry *entries, size_t n, int timeout_ms) {
    WSAPOLLFD fds[8];
    if (n > 8) return -1;
    for (size_t i = 0; i < n; ++i) {
        fds[i].fd = S(entries[i].fd);
        fds[i].events = static_cast<short>(((entries[i].events & kHostReadable) ? POLLRDNORM : 0) |
                                           ((entries[i].events & kHostWritable) ? POLLWRNORM : 0));
        fds[i].revents = 0;
    }
    int r = WSAPoll(fds, static_cast<ULONG>(n), timeout_ms);
    if (r == SOCKET_ERROR) return -1;
    for (size_t i = 0; i < n; ++i) {
        const short got = fds[i].revents;
        entries[i].revents = static_cast<short>(((got & POLLRDNORM) ? kHostReadable : 0) |
                                                ((got & POLLWRNORM) ? kHostWritable : 0) |
                                                ((got & (POLLERR | POLLHUP | POLLNVAL)) ? kHostClosed : 0));
    }
    return r;
}

// Windows has no event descriptor that a socket poll can wait on, so the
// wake-up is a UDP socket connected to itself: a datagram makes it readable.
int HostMakeKick() {
    StartWinsock();
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return -1;
    sockaddr_in sa = Loopback(0);
    int size = sizeof sa;
    if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&sa), &size) != 0 ||
        connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || !NonBlocking(s)) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}
void HostKick(int kick) {
    const char one = 1;
    send(S(kick), &one, 1, 0);
}
void HostDrainKick(int kick) {
    char buffer[64];
    while (recv(S(kick), buffer, sizeof buffer, 0) > 0) {
    }
}
void HostCloseKick(int kick) { closesocket(S(kick)); }
