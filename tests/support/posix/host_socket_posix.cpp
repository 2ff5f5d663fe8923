#include "host_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

int HostBoundSocket(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool HostListen(int fd, int backlog) { return listen(fd, backlog) == 0; }

uint16_t HostLocalPort(int fd) {
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &size) != 0) return 0;
    return ntohs(sa.sin_port);
}

int HostAccept(int listener) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

ptrdiff_t HostRecv(int fd, void *data, size_t len) { return recv(fd, data, len, 0); }
ptrdiff_t HostSend(int fd, const void *data, size_t len) {
    return send(fd, data, len, MSG_NOSIGNAL);
}
bool HostRetryLater() { return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK; }
void HostShutdownWrite(int fd) { shutdown(fd, SHUT_WR); }
void HostClose(int fd) { close(fd); }

int HostPoll(HostPollEntry *entries, size_t n, int timeout_ms) {
    pollfd fds[8];
    if (n > 8) return -1;
    for (size_t i = 0; i < n; ++i) {
        fds[i].fd = entries[i].fd;
        fds[i].events = static_cast<short>(((entries[i].events & kHostReadable) ? POLLIN : 0) |
                                           ((entries[i].events & kHostWritable) ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    int r = poll(fds, n, timeout_ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    for (size_t i = 0; i < n; ++i) {
        const short got = fds[i].revents;
        entries[i].revents = static_cast<short>(((got & POLLIN) ? kHostReadable : 0) |
                                                ((got & POLLOUT) ? kHostWritable : 0) |
                                                ((got & (POLLERR | POLLHUP | POLLNVAL)) ? kHostClosed : 0));
    }
    return r;
}

int HostMakeKick() { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
void HostKick(int kick) {
    uint64_t one = 1;
    ssize_t n = write(kick, &one, sizeof one);
    (void)n;
}
void HostDrainKick(int kick) {
    uint64_t drained;
    ssize_t n = read(kick, &drained, sizeof drained);
    (void)n;
}
void HostCloseKick(int kick) { close(kick); }
