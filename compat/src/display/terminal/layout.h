// Where windows go on the terminal. A dialog unit is a quarter of a cell
// wide and an eighth of a cell tall; a dialog whose frame does not fit the
// screen is scaled down (each way on its own) until it does. Windows are
// centred; the last row of the screen holds the key hints. Below 80 x 24
// the screen says it is too small instead.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "display/terminal/canvas.h"

namespace compat {
namespace terminal {

constexpr int kMinRows = 24;
constexpr int kMinCols = 80;

bool screen_too_small(int rows, int cols);
// The rows and columns windows may use: all but the hint row.
Rect window_area(int rows, int cols);

// A dialog: its frame (title bar on the top edge, the close box in it),
// its client area inside, and the scale from dialog units to cells.
struct DialogGeometry {
    Rect frame;
    Rect client;
    double kx = 0.25, ky = 0.125;
};
DialogGeometry place_dialog(int cx_du, int cy_du, const Rect &area);
// A control's cells, from its rect in dialog units within the client area.
Rect place_control(const DialogGeometry &g, const RECT &du);

// The close box "[X]" on a frame's top edge.
Rect close_box(const Rect &frame);

// A message box: the frame, its text broken into lines that fit, where the
// text starts, and one rect per button label (in order).
struct MessageBoxGeometry {
    Rect frame;
    std::vector<std::wstring> lines;
    int text_row = 0, text_col = 0;
    std::vector<Rect> buttons;
};
MessageBoxGeometry place_message_box(const std::wstring &caption, const std::wstring &text,
                                     const std::vector<std::wstring> &labels, const Rect &area);
// The cells of a button label drawn as "[ label ]".
int button_width(const std::wstring &label);

// A pop-up menu with its top left corner at (row, col), moved inside the
// area when it would stick out.
Rect place_menu(int row, int col, const std::vector<std::wstring> &lines, const Rect &area);

// Breaks text (lines ended by LF, CR ignored) into lines of at most width
// cells, never inside a character.
std::vector<std::wstring> wrap_text(const std::wstring &text, int width);

}  // namespace terminal
}  // namespace compat
