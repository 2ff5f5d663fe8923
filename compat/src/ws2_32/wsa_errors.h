// Windows Sockets error codes that the public header does not declare, with
// their Winsock values, and the mapping from the host's errno values.
#pragma once

#include <winsock2.h>

#ifndef WSAEACCES
#define WSAEACCES 10013
#endif
#ifndef WSAEWOULDBLOCK
#define WSAEWOULDBLOCK 10035
#endif
#ifndef WSAEALREADY
#define WSAEALREADY 10037
#endif
#ifndef WSAEPROTONOSUPPORT
#define WSAEPROTONOSUPPORT 10043
#endif
#ifndef WSAESOCKTNOSUPPORT
#define WSAESOCKTNOSUPPORT 10044
#endif
#ifndef WSAEOPNOTSUPP
#define WSAEOPNOTSUPP 10045
#endif
#ifndef WSAEADDRINUSE
#define WSAEADDRINUSE 10048
#endif
#ifndef WSAEADDRNOTAVAIL
#define WSAEADDRNOTAVAIL 10049
#endif
#ifndef WSAENETDOWN
#define WSAENETDOWN 10050
#endif
#ifndef WSAECONNABORTED
#define WSAECONNABORTED 10053
#endif
#ifndef WSAENOBUFS
#define WSAENOBUFS 10055
#endif
#ifndef WSAEISCONN
#define WSAEISCONN 10056
#endif
#ifndef WSAENOTCONN
#define WSAENOTCONN 10057
#endif
#ifndef WSAESHUTDOWN
#define WSAESHUTDOWN 10058
#endif
#ifndef WSAEHOSTUNREACH
#define WSAEHOSTUNREACH 10065
#endif
#ifndef WSAVERNOTSUPPORTED
#define WSAVERNOTSUPPORTED 10092
#endif

namespace compat {

// The Winsock code for a host errno value of a failed socket call.
int wsa_error_from_errno(int error);

}  // namespace compat
