#include "ws2_32/routes.h"

#include <compat_seams.h>

#include <map>
#include <mutex>
#include <utility>

namespace {

using Endpoint = std::pair<ULONG, u_short>;

std::mutex routes_mutex;
std::map<Endpoint, Endpoint> &routes() {
    static auto *table = new std::map<Endpoint, Endpoint>();
    return *table;
}

}  // namespace

void CompatRouteConnect(ULONG addr, u_short port, ULONG to_addr, u_short to_port) {
    std::lock_guard<std::mutex> lock(routes_mutex);
    routes()[Endpoint(addr, port)] = Endpoint(to_addr, to_port);
}

void CompatClearRoutes(void) {
    std::lock_guard<std::mutex> lock(routes_mutex);
    routes().clear();
}

namespace compat {

bool apply_route(ULONG &addr, u_short &port) {
    std::lock_guard<std::mutex> lock(routes_mutex);
    auto it = routes().find(Endpoint(addr, port));
    if (it == routes().end()) return true;
    if (it->second.second == 0) return false;
    addr = it->second.first;
    port = it->second.second;
    return true;
}

}  // namespace compat
