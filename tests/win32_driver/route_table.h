// The connect routes that the driver shares with its hook inside the
// program: a named block of memory per program process.
#pragma once

#include <windows.h>

#define QV_ROUTE_TABLE_NAME "qv-automation-routes-%lu"  // the program's process id
#define QV_MAX_ROUTES 16

typedef struct QvRoute {
    ULONG addr;       // network byte order, as in a sockaddr_in
    USHORT port;
    ULONG to_addr;
    USHORT to_port;   // 0: connections fail as refused ones do
} QvRoute;

// The program's live objects, as the hook counts them; filled in on asking.
typedef struct QvLiveCounts {
    LONG blocks;   // GlobalAlloc blocks not freed, the clipboard's included
    LONG threads;  // CreateThread threads not yet ended
    LONG handles;  // their handles not yet closed
    LONG sockets;  // sockets not yet closed
} QvLiveCounts;

typedef struct QvRouteTable {
    volatile LONG count;
    QvRoute routes[QV_MAX_ROUTES];
    QvLiveCounts live;
} QvRouteTable;
