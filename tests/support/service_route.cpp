// The route helpers of fake_service.h. Kept apart from the fake service
// itself, since this side speaks to the layer (winsock2.h) and that side to
// the host's sockets.
#include <compat_seams.h>

#include <cstdio>
#include <cstring>

#include "fake_service.h"

namespace {
const uint16_t kServicePort = 80;
}

uint16_t NetworkPort(uint16_t port) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(port >> 8),
                                    static_cast<unsigned char>(port & 0xff)};
    uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

uint32_t NetworkIpv4(const char *dotted) {
    unsigned parts[4];
    char rest;
    if (std::sscanf(dotted, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &rest) != 4)
        return 0;
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) return 0;
        bytes[i] = static_cast<unsigned char>(parts[i]);
    }
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

void RouteServiceTo(uint16_t port) {
    CompatRouteConnect(NetworkIpv4(QV_SERVICE_ADDRESS), NetworkPort(kServicePort),
                       NetworkIpv4("127.0.0.1"), NetworkPort(port));
}

void RouteServiceRefused() {
    CompatRouteConnect(NetworkIpv4(QV_SERVICE_ADDRESS), NetworkPort(kServicePort), 0, 0);
}

void ClearServiceRoutes() { CompatClearRoutes(); }
