/*
 * winsock2.h for POSIX hosts: our own declarations of the Windows Sockets 2
 * subset that Quorvane calls. The structures have Winsock's layout; every
 * blocking call is a wait that TerminateThread can interrupt.
 *
 * Do not include this together with the host's <sys/socket.h> or
 * <netinet/in.h> in one translation unit: the names are the same.
 */
#ifndef QV_COMPAT_WINSOCK2_H
#define QV_COMPAT_WINSOCK2_H

#include <windows.h>
/* The host's BSD typedefs (u_char, u_short, u_int, u_long) are reused so the
 * two never clash. u_long is wider here than on Win32, so every value that is
 * 32 bits on the wire is declared ULONG below. */
#include <sys/types.h>

typedef UINT_PTR SOCKET;

#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

#define AF_INET 2
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define INADDR_ANY ((ULONG)0x00000000)
#define INADDR_LOOPBACK ((ULONG)0x7f000001)
#define INADDR_NONE ((ULONG)0xffffffff)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

#define WSAEINTR 10004
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAENOTSOCK 10038
#define WSAEAFNOSUPPORT 10047
#define WSAENETUNREACH 10051
#define WSAECONNRESET 10054
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSANOTINITIALISED 10093

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
} WSADATA, *LPWSADATA;

struct in_addr {
    ULONG s_addr;
};
typedef struct in_addr IN_ADDR;

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
typedef struct sockaddr SOCKADDR;

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};
typedef struct sockaddr_in SOCKADDR_IN;

int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WINAPI WSACleanup(void);
int WINAPI WSAGetLastError(void);
SOCKET WINAPI socket(int af, int type, int protocol);
int WINAPI connect(SOCKET s, const struct sockaddr *name, int namelen);
int WINAPI send(SOCKET s, const char *buf, int len, int flags);
int WINAPI recv(SOCKET s, char *buf, int len, int flags);
int WINAPI closesocket(SOCKET s);
u_short WINAPI htons(u_short hostshort);
u_short WINAPI ntohs(u_short netshort);
ULONG WINAPI htonl(ULONG hostlong);
ULONG WINAPI ntohl(ULONG netlong);
ULONG WINAPI inet_addr(const char *cp);

#endif /* QV_COMPAT_WINSOCK2_H */
