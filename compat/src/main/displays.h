// The display back ends the program can start with, chosen by the layer's
// own environment variable QV_DISPLAY, "<name>[:<options>]", as a windowing
// system takes DISPLAY; the program's own code reads no setting. An unset
// or unknown name gets the terminal display.
#pragma once

#include <string>

namespace compat {
namespace displays {

// Opens the display that the setting names (null: unset). False when it cannot
// open; *error then says why, in one line.
bool open_display(const char *setting, std::string *error);

// Closes the display that open_display opened, if any.
void close_display();

}  // namespace displays
}  // namespace compat
