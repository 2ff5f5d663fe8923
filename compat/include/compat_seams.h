/*
 * Seams of the compatibility layer that are not Win32: what tests, benchmarks
 * and the automation display use to observe and steer the layer. The
 * program's own code never includes this.
 */
#ifndef QV_COMPAT_SEAMS_H
#define QV_COMPAT_SEAMS_H

#include <winsock2.h>

/* Objects the layer holds right now. A test that ends with these back at
 * their starting values leaked nothing. */
typedef struct CompatResourceCounts {
    long global_blocks; /* GlobalAlloc blocks not yet freed (clipboard's included) */
    long windows;       /* windows not yet destroyed */
    long threads;       /* CreateThread threads not yet ended */
    long handles;       /* kernel handles not yet closed */
    long sockets;       /* sockets not yet closed */
} CompatResourceCounts;

CompatResourceCounts CompatGetResourceCounts(void);

/* Connections to (addr, port) go to (to_addr, to_port) instead. Addresses and
 * ports in network byte order, as in a sockaddr_in. A route to port 0 makes
 * every connect to that address fail as a refused connection would. */
void CompatRouteConnect(ULONG addr, u_short port, ULONG to_addr, u_short to_port);
void CompatClearRoutes(void);

/* Makes a compiled .res image (as windres writes it) the resources of the
 * running module. The program registers its own at start-up; tests may
 * register fixtures. The bytes must stay valid for the life of the process.
 * Returns 0 when the image is malformed (what could be read is kept). */
int CompatRegisterModuleResources(const unsigned char *data, size_t size);

#endif /* QV_COMPAT_SEAMS_H */
