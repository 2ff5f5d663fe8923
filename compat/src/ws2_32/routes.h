// The connect route table behind CompatRouteConnect (compat_seams.h).
#pragma once

#include <winsock2.h>

namespace compat {

// Rewrites (addr, port), both in network byte order, by the route table.
// False when the route sends the connection nowhere (a route to port 0).
bool apply_route(ULONG &addr, u_short &port);

}  // namespace compat
