/*
 * The host system calls under the layer's sockets, gathered in one table so
 * that tests and fuzz targets can replace any of them: to inject a fault into
 * one call, or to stub the whole network exchange in memory.
 *
 * Conventions of every entry: descriptors are host file descriptors (int);
 * a failure returns -1 with the host's errno set, exactly as the system call
 * it stands for would. Addresses and ports are in network byte order, as in
 * a sockaddr_in. Descriptors that tcp_socket hands out are non-blocking, so
 * send_bytes, recv_bytes and connect_ipv4 report "would block" (EAGAIN, or
 * EINPROGRESS for a connect) instead of blocking; the layer then waits, in a
 * wait that TerminateThread can end, until the host reports the descriptor
 * ready. A stub that reports "would block" must therefore hand out a real
 * descriptor that becomes ready in time (a pipe end will do); a stub that
 * never does may hand out any number >= 0.
 *
 * Replace entries only while no socket call is in progress on any thread,
 * and restore them the same way.
 *
 * Example, a fuzz target's exchange without a network: tcp_socket returns
 * a made-up descriptor, connect_ipv4 returns 0, send_bytes returns its
 * length, recv_bytes copies a canned reply and then returns 0, close_fd
 * returns 0.
 */
#ifndef QV_COMPAT_OS_H
#define QV_COMPAT_OS_H

#include <stddef.h>
#include <stdint.h>

typedef struct CompatOsCalls {
    /* A new IPv4 TCP socket, non-blocking and close-on-exec. */
    int (*tcp_socket)(void);
    /* Starts connecting; 0 when connected at once, -1 with EINPROGRESS when
     * the outcome comes later (then pending_error tells it). */
    int (*connect_ipv4)(int fd, uint32_t addr, uint16_t port);
    /* The outcome of a connect that was in progress, once the descriptor is
     * writable: 0 when connected, else the errno value of the failure.
     * -1 with errno set when the question itself fails. */
    int (*pending_error)(int fd);
    /* Sends up to len bytes; the number taken. Never raises SIGPIPE. */
    ptrdiff_t (*send_bytes)(int fd, const void *data, size_t len);
    /* Receives up to len bytes; the number received, 0 when the peer has
     * closed the connection. */
    ptrdiff_t (*recv_bytes)(int fd, void *data, size_t len);
    int (*close_fd)(int fd);
} CompatOsCalls;

/* The table the layer calls through. Assign its entries to replace calls. */
CompatOsCalls *CompatGetOsCalls(void);

/* The host's own calls, for a replacement that forwards to them. */
const CompatOsCalls *CompatHostOsCalls(void);

/* Puts the host's calls back into every entry. */
void CompatRestoreOsCalls(void);

#endif /* QV_COMPAT_OS_H */
