// Dialogs of the layer: the "#32770" window state that a dialog procedure
// drives, shared by the template dialogs, the Save As dialog and the menus'
// and dialogs' modal loops.
#pragma once

#include <windows.h>

#include "resources/resource_file.h"
#include "user32/window.h"

namespace compat {

// Virtual keys the dialog manager reacts to.
enum : WPARAM {
    kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkShift = 0x10, kVkControl = 0x11,
    kVkEscape = 0x1B, kVkSpace = 0x20, kVkPrior = 0x21, kVkNext = 0x22, kVkEnd = 0x23,
    kVkHome = 0x24, kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28,
    kVkDelete = 0x2E, kVkApps = 0x5D, kVkF10 = 0x79,
};

// Creates a dialog from a template on the calling thread: the window, its
// items in template order, WM_INITDIALOG, focus, and shows it when the
// template says WS_VISIBLE. Null when a window cannot be made.
HWND create_dialog(const res::DialogTemplate &t, HWND owner, DLGPROC proc, LPARAM param);

// The modal loop of a dialog on the calling thread, until EndDialog (or the
// window is gone). Returns the EndDialog result, -1 without one.
INT_PTR run_dialog(HWND dlg);

// Whether a window and all its ancestors are enabled: input reaches only
// such windows.
bool takes_input(HWND h);

// The top-level window above h (h itself when it has no parent).
HWND top_level_of(HWND h);

}  // namespace compat
