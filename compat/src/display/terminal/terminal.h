// The terminal display back end: the program's windows drawn in the
// terminal it was started from, with ncursesw, and used there with the
// keyboard and the mouse. One layer thread owns the terminal: it reads
// the terminal's input and turns it into messages posted to the windows,
// and it redraws what changed, at most about 30 times a second however
// fast the windows change.
#pragma once

#include <string>

namespace compat {
namespace terminal {

// Takes over the terminal and starts the display's thread; false, with
// the reason in one line, when there is no terminal to use.
bool start_terminal(std::string *error);

// Stops the thread and gives the terminal back as it was.
void stop_terminal();

}  // namespace terminal
}  // namespace compat
