// The host's own TCP sockets under the fake service, in the few shapes it
// needs, so the service builds on POSIX hosts and on Windows alike. Every
// socket here is non-blocking; descriptors are ints on both.
#pragma once

#include <cstddef>
#include <cstdint>

// What HostPoll waits for and reports.
constexpr short kHostReadable = 1, kHostWritable = 2, kHostClosed = 4;

struct HostPollEntry {
    int fd;
    short events;   // kHostReadable and/or kHostWritable
    short revents;  // what is ready; kHostClosed for an error or hang-up
};

// A TCP socket bound to 127.0.0.1:port (0: any free port); -1 on failure.
int HostBoundSocket(uint16_t port);
bool HostListen(int fd, int backlog);
uint16_t HostLocalPort(int fd);  // host byte order; 0 on failure
// An accepted connection with TCP_NODELAY; -1 when none is waiting.
int HostAccept(int listener);
// Byte counts, 0 at the peer's orderly close, -1 on failure: then
// HostRetryLater() tells whether the call merely would have blocked.
ptrdiff_t HostRecv(int fd, void *data, size_t len);
ptrdiff_t HostSend(int fd, const void *data, size_t len);  // never raises SIGPIPE
bool HostRetryLater();
void HostShutdownWrite(int fd);
void HostClose(int fd);
// Number of entries with revents set, 0 on time-out (timeout_ms < 0: none),
// -1 on failure other than an interruption.
int HostPoll(HostPollEntry *entries, size_t n, int timeout_ms);

// A descriptor that another thread makes readable, to wake a HostPoll.
int HostMakeKick();
void HostKick(int kick);
void HostDrainKick(int kick);
void HostCloseKick(int kick);
