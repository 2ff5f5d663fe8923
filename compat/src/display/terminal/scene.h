// What is on the screen right now: the visible top-level windows, back to
// front, each with its frame in cells and its controls, read from the
// layer's core through the display seam. Built afresh for every frame and
// kept until the next one, so input finds what the person sees.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "display/display.h"
#include "display/terminal/canvas.h"
#include "display/terminal/codec.h"
#include "display/terminal/layout.h"

namespace compat {
namespace terminal {

enum class ControlKind { Static, Button, Edit, List, Other };

struct ControlView {
    HWND hwnd = nullptr;
    ControlKind kind = ControlKind::Other;
    LONG_PTR id = 0;
    DWORD style = 0;
    std::wstring text;
    Rect cells;
    bool enabled = true;  // the control and its window
};

enum class WindowKind { Dialog, MessageBox, Menu };

struct WindowView {
    HWND hwnd = nullptr;
    WindowKind kind = WindowKind::Dialog;
    DWORD thread_id = 0;
    DWORD style = 0;
    HWND owner = nullptr;
    std::wstring title;
    Rect frame;
    bool enabled = true;
    std::vector<ControlView> controls;  // a message box: its buttons
    // A message box.
    UINT box_style = 0;
    std::vector<std::wstring> text_lines;
    int text_row = 0, text_col = 0;
    // A pop-up menu.
    std::vector<display::MenuLine> menu;
    std::vector<std::wstring> menu_texts;

    bool has_close_box() const { return kind != WindowKind::Menu && (style & WS_SYSMENU); }
    bool takes_input() const { return enabled && kind != WindowKind::Menu; }
    const ControlView *control(HWND h) const;
    // The control under the cell, or null.
    const ControlView *control_at(int row, int col) const;
};

struct Scene {
    int rows = 0, cols = 0;
    bool too_small = false;
    std::vector<WindowView> windows;  // back to front

    const WindowView *find(HWND h) const;
    const WindowView *window_at(int row, int col) const;  // the frontmost there
    const WindowView *open_menu() const;
    // The window a control or window belongs to, if shown.
    const WindowView *window_of(HWND h) const;
};

// Reads the screen's windows. Pop-up menus asked for at (-1, -1) open
// where the keyboard is: under the caret line of a focused list, below the
// corner of any other focused control.
Scene build_scene(int rows, int cols, TextCodec &codec);

}  // namespace terminal
}  // namespace compat
