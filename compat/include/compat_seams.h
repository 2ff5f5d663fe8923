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

/* Windows. Every change that a screen would show (a window made or gone,
 * its text, enabled or visible state, a control's contents, a message box
 * shown) adds one to the change count. To wait for a condition: read the
 * count, test the condition, and if it does not hold yet wait for the count
 * to move on from what was read, then test again. */
unsigned long CompatWindowChangeCount(void);
/* Waits until the count differs from seen, at most timeout_ms (< 0: no
 * limit). Returns nonzero when it differs. A layer wait: TerminateThread
 * ends it. */
int CompatWaitWindowChange(unsigned long seen, int timeout_ms);
/* Adds one without a change, waking every waiter: for a harness that stops
 * its own waiting thread. */
void CompatSignalWindowChange(void);

/* From now on a top-level window with exactly this title cannot be
 * created: CreateWindowExA, CreateDialogParamA and DialogBoxParamA fail with
 * ERROR_NOT_ENOUGH_MEMORY, as on a system out of window resources. Null
 * lets every window be created again. For tests of what a program does when
 * one of its windows cannot be made. */
void CompatRefuseWindowsTitled(const char *title);

/* The uType that MessageBoxA was given, for a message box that is showing
 * (its modal loop has begun); COMPAT_NO_MESSAGE_BOX for any other window.
 * The box's text is the text of its child COMPAT_MESSAGE_BOX_TEXT_ID, its
 * caption the box's own text; WM_COMMAND(IDOK) posted to it presses OK. */
#define COMPAT_NO_MESSAGE_BOX 0xFFFFFFFFu
#define COMPAT_MESSAGE_BOX_TEXT_ID 0xFFFF
UINT CompatGetMessageBoxStyle(HWND box);

#endif /* QV_COMPAT_SEAMS_H */
