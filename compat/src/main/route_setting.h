// QV_ROUTES, the layer's connect routes given at start-up, for test
// harnesses that drive the program without the automation channel (the
// terminal tests): "ip:port=ip:port[,ip:port=ip:port...]" sends the
// program's connections to the first endpoint to the second; a second port
// of 0 makes them fail as refused. The program's own code reads no setting;
// a person never needs this one.
#pragma once

#include <string>

namespace compat {
namespace displays {

// Applies the routes (null or empty: none). False, with the reason in one
// line, for a malformed value.
bool apply_route_setting(const char *setting, std::string *error);

}  // namespace displays
}  // namespace compat
