#include "main/route_setting.h"

#include <compat_seams.h>

#include <cstdio>
#include <cstring>

namespace compat {
namespace displays {

namespace {

// "a.b.c.d:port", in network byte order.
bool parse_endpoint(const std::string &text, ULONG *addr, u_short *port) {
    unsigned parts[4], p;
    char rest;
    if (sscanf(text.c_str(), "%u.%u.%u.%u:%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &p,
               &rest) != 5 ||
        p > 65535)
        return false;
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) return false;
        bytes[i] = static_cast<unsigned char>(parts[i]);
    }
    memcpy(addr, bytes, 4);
    const unsigned char port_bytes[2] = {static_cast<unsigned char>(p >> 8),
                                         static_cast<unsigned char>(p & 0xFF)};
    memcpy(port, port_bytes, 2);
    return true;
}

}  // namespace

bool apply_route_setting(const char *setting, std::string *error) {
    const std::string text = setting ? setting : "";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string route = text.substr(start, end - start);
        const size_t eq = route.find('=');
        ULONG from, to;
        u_short from_port, to_port;
        if (eq == std::string::npos || !parse_endpoint(route.substr(0, eq), &from, &from_port) ||
            !parse_endpoint(route.substr(eq + 1), &to, &to_port)) {
            *error = "QV_ROUTES: \"" + route + "\" is no route (ip:port=ip:port)";
            return false;
        }
        CompatRouteConnect(from, from_port, to, to_port);
        start = end + 1;
    }
    return true;
}

}  // namespace displays
}  // namespace compat
