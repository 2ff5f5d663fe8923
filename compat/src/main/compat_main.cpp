// The program's start-up on POSIX hosts, in place of the runtime start-up
// that calls WinMain on Windows: take the connect routes a test harness
// gives (QV_ROUTES), open the display that QV_DISPLAY names, run WinMain,
// and end with the code it returns.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "main/displays.h"
#include "main/route_setting.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show_command);

int main() {
    std::string error;
    if (!compat::displays::apply_route_setting(getenv("QV_ROUTES"), &error)) {
        fprintf(stderr, "quorvane: %s\n", error.c_str());
        return 1;
    }
    if (!compat::displays::open_display(getenv("QV_DISPLAY"), &error)) {
        fprintf(stderr, "quorvane: %s\n", error.c_str());
        // Without a display no window can be created, and a program whose
        // main window cannot be created ends at once with code 1.
        return 1;
    }
    char command_line[] = "";
    const int code = WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
    compat::displays::close_display();
    return code;
}
