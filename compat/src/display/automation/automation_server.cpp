// The automation server's channel: a layer thread reads request lines from
// the descriptor and writes each reply before it reads on.
//
// The server is a layer thread, so each of its waits (the channel, the
// change counter, a message sent to a window) is a layer wait that
// stop_server's TerminateThread ends.
#include "display/automation/automation_server.h"

#include <windows.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/thread_record.h"

namespace compat {
namespace automation {

namespace {

constexpr size_t kMaxRequest = 1 << 20;  // a request line longer than this is refused
constexpr int kChannelLostExitCode = 2;  // not 1, which every normal end gives

// ---- the channel ----

struct Server {
    int fd = -1;
    HANDLE thread = nullptr;
};

Server server;

// Writes all of text; false when the peer has gone.
bool write_all(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_until([] { return false; }, fd, POLLOUT);
            continue;
        }
        return false;
    }
    return true;
}

DWORD WINAPI serve(LPVOID) {
    const int fd = server.fd;
    std::string pending;
    char buffer[4096];
    for (;;) {
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!write_all(fd, answer_request(line))) return 0;
        }
        if (pending.size() > kMaxRequest) {
            write_all(fd, "error too-long\n");
            return 0;
        }
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            pending.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_until([] { return false; }, fd, POLLIN);
            continue;
        }
        // The driver has gone, and with it the only way to use the program:
        // it ends, as a program does that loses its display.
        fprintf(stderr, "quorvane: the automation channel closed\n");
        _exit(kChannelLostExitCode);
    }
}

}  // namespace

bool start_server(int fd, std::string *error) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) != O_RDWR) {
        *error = "descriptor " + std::to_string(fd) + " is not open for reading and writing";
        return false;
    }
    if (fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 || fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) {
        *error = std::string("descriptor ") + std::to_string(fd) + ": " + strerror(errno);
        return false;
    }
    server.fd = fd;
    signal_thread_ends();
    server.thread = CreateThread(nullptr, 0, serve, nullptr, 0, nullptr);
    if (!server.thread) {
        *error = "cannot start the automation thread";
        server.fd = -1;
        return false;
    }
    return true;
}

void stop_server() {
    if (server.thread) {
        TerminateThread(server.thread, 0);
        CloseHandle(server.thread);
        server.thread = nullptr;
    }
    if (server.fd >= 0) {
        close(server.fd);
        server.fd = -1;
    }
}

}  // namespace automation
}  // namespace compat
