// Paints a scene into a canvas: frames with their title bars and close
// boxes, the controls at their places, the focus, the selection and the
// scroll positions, message boxes and the open menu on top, and the key
// hints on the last row.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "display/terminal/canvas.h"
#include "display/terminal/codec.h"
#include "display/terminal/scene.h"

namespace compat {
namespace terminal {

// How far an edit is scrolled: kept by the display, moved to keep the
// caret in sight whenever the caret or the text changes, and by the wheel.
struct EditScroll {
    size_t top = 0;   // first line shown
    int left = 0;     // first cell column shown
    size_t caret = static_cast<size_t>(-1);
    size_t length = static_cast<size_t>(-1);
};

struct PaintState {
    HWND active = nullptr;  // the window the person works in
    size_t menu_item = 0;   // the highlighted line of the open menu
    std::map<HWND, EditScroll> edits;
    // Out: the lines each list shows, for display::kListPage.
    std::map<HWND, size_t> list_pages;
    // Out: where the terminal's cursor goes (an edit's caret), if anywhere.
    bool cursor_on = false;
    int cursor_row = 0, cursor_col = 0;
};

void paint(const Scene &scene, PaintState &state, TextCodec &codec, Canvas &canvas);

// The inner area of a control with a border (an edit's text, a list's
// lines); a control without one uses all of its cells.
Rect inner_rect(const ControlView &c);

// The byte offset in an edit's text (CR LF line ends) for a cell of its
// inner area, as the edit is scrolled: the character under the cell, or
// the end of that line.
size_t edit_offset_at(const std::string &text, const EditScroll &scroll, int row, int col,
                      TextCodec &codec);

}  // namespace terminal
}  // namespace compat
