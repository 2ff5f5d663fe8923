// The terminal itself: opening it (a TTY on standard input and output, a
// TERM the terminal database knows, a UTF-8 character type), ncursesw for
// the picture, the modes this display turns on (mouse reports, bracketed
// paste), and putting everything back when the program ends, also when a
// signal ends it.
#pragma once

#include <string>

#include "display/terminal/canvas.h"

namespace compat {
struct ThreadRecord;

namespace terminal {

// False, with the reason in one line, when there is no terminal to use.
bool open_tty(std::string *error);
// Restores the terminal; safe to call more than once.
void close_tty();

// The terminal's size now, and making ncurses use it.
void tty_size(int *rows, int *cols);
void tty_resize(int rows, int cols);

// Shows the picture; the cursor at (row, col) when cursor is set, hidden
// otherwise. redraw_all repaints every cell (after the screen was spoilt).
void tty_present(const Canvas &canvas, bool cursor, int row, int col, bool redraw_all);

// Sends bytes to the terminal as they are, after the picture.
void tty_write(const std::string &bytes);

// The thread that a change of the terminal's size wakes, and whether the
// size changed since the last call.
void tty_wake_on_resize(ThreadRecord *thread);
bool tty_take_resize();
bool tty_resize_pending();

// The terminal is gone (its input ended): puts back what can be put back
// and ends the program, as one does that loses its display.
[[noreturn]] void tty_lost();

}  // namespace terminal
}  // namespace compat
