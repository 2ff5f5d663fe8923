#include "os/os_calls.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int host_tcp_socket(void) {
    return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
}

int host_connect_ipv4(int fd, uint32_t addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = port;
    sa.sin_addr.s_addr = addr;
    return connect(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
}

int host_pending_error(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
    return error;
}

ptrdiff_t host_send_bytes(int fd, const void *data, size_t len) {
    return send(fd, data, len, MSG_NOSIGNAL);
}

ptrdiff_t host_recv_bytes(int fd, void *data, size_t len) { return recv(fd, data, len, 0); }

int host_close_fd(int fd) { return close(fd); }

const CompatOsCalls host_calls = {
    host_tcp_socket, host_connect_ipv4, host_pending_error,
    host_send_bytes, host_recv_bytes,   host_close_fd,
};

CompatOsCalls live_calls = host_calls;

}  // namespace

namespace compat {
CompatOsCalls &os() { return live_calls; }
}  // namespace compat

CompatOsCalls *CompatGetOsCalls(void) { return &live_calls; }
const CompatOsCalls *CompatHostOsCalls(void) { return &host_calls; }
void CompatRestoreOsCalls(void) { live_calls = host_calls; }
