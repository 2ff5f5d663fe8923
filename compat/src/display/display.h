// The display seam: what passes between the layer's window core and a
// display back end (the automation back end that tests drive, the terminal
// one for people). The core knows no screen; a back end knows no window
// internals beyond what this header gives it.
//
// Core to back end: after every change that a screen would show, the core
// calls Backend::window_changed(hwnd, change) and bumps the public change
// counter (CompatWindowChangeCount in compat_seams.h):
//   Created          the window exists with its class, text, style, parent
//                    and owner (after WM_CREATE has succeeded)
//   Destroyed        the window is gone: IsWindow is FALSE, snapshot fails
//   Text             its text changed
//   State            style, enabled or visible changed
//   Content          a control's own data changed (list lines, selection)
//   MessageBoxShown  a message box and its children are complete and its
//                    modal loop begins; CompatGetMessageBoxStyle answers
//   Focus            a thread's keyboard focus moved (hwnd: the new focus,
//                    or the old one when no window has it now)
//   Clipboard        the clipboard was emptied or given text and is closed
//                    again (hwnd: null); read_clipboard_text reads it
// The call comes on the thread that made the change, with no layer lock
// held, so it may read state through this header. It must return soon and
// must neither wait for a window's thread nor call a window procedure: a
// back end that draws notes what is dirty and draws on its own thread.
//
// Back end to core: input becomes messages posted to the window concerned
// (PostMessageA), which its thread carries out when it next takes messages:
// a button press is WM_COMMAND(id) posted to the button's parent, e.g. to a
// message box. A back end never calls a window procedure itself.
//   Keys go to the top-level window the person works in, as
//   WM_KEYDOWN(vk), the WM_CHAR it types if any, WM_KEYUP(vk); its thread
//   hands each keystroke posted to a top-level window to its keyboard
//   focus (focus_of) when it takes it, so keys typed ahead follow the
//   focus. Shift and Ctrl wrap a keystroke in their own WM_KEYDOWN /
//   WM_KEYUP, which the controls read back as the thread's key state.
//   Typed text is one WM_CHAR per GBK byte. Dialogs and message boxes take
//   Tab, Enter, Esc and the context-menu keys themselves; a list box takes
//   the arrows, PageUp/PageDown, Home, End and Space; an edit the caret
//   keys.
//   When the person turns to another top-level window, the back end posts
//   it WM_ACTIVATE(WA_ACTIVE): a dialog gives the focus back to the
//   control that had it last.
//   Mouse: WM_LBUTTONDOWN then WM_LBUTTONUP to a control presses a button
//   and focuses any control. To a list box, the position's y (HIWORD) is
//   the row in the list's view, 0 for its first line shown, and wParam
//   carries MK_SHIFT and MK_CONTROL; WM_MOUSEWHEEL scrolls it (WHEEL_DELTA
//   a notch, three lines). An edit takes its caret with EM_SETSEL(i, i),
//   a byte offset into its text. A right click is WM_CONTEXTMENU to the
//   window under the pointer, which hands it up to its parent.
//   Screen positions (WM_CONTEXTMENU, a pop-up menu's rect) are in the
//   back end's own screen units; (-1, -1) means "where the keyboard is".
//
// Reading state: snapshot(), read_list_box(), read_list_view(),
// read_edit(), read_menu(), focus_of() and read_clipboard_text() copy what
// a screen shows, from any thread, without involving the window's thread.
//
// The null back end (the default) shows nothing; the counter still runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace compat {
namespace display {

enum class Change { Created, Destroyed, Text, State, Content, MessageBoxShown, Focus, Clipboard };

class Backend {
public:
    virtual ~Backend() = default;
    virtual void window_changed(HWND hwnd, Change change) = 0;
};

// Installs a back end (null: the null back end) and returns the one it
// replaces. Install before the first window and keep it alive until the
// last is gone: calls already under way still use the previous one.
Backend *set_backend(Backend *backend);

// For the core: announces a change to the back end and to waiters on the
// change counter.
void changed(HWND hwnd, Change change);

struct WindowSnapshot {
    std::string class_name;
    std::string text;
    DWORD style = 0;      // WS_VISIBLE and WS_DISABLED included
    DWORD ex_style = 0;
    LONG_PTR id = 0;      // children: the control id
    HWND parent = nullptr;
    HWND owner = nullptr;
    DWORD thread_id = 0;
    RECT rect{0, 0, 0, 0};
    std::vector<HWND> children;  // creation order
};

// Copies the window's state; false when hwnd names no window.
bool snapshot(HWND hwnd, WindowSnapshot *out);

// The top-level windows (children of null) or a window's children, in
// creation order.
std::vector<HWND> windows_under(HWND parent);

struct ListLine {
    std::string text;
    bool selected = false;
};

// Copies up to max_lines lines of a list box from index first on into
// *lines and its line count into *count; false when hwnd is no list box.
bool read_list_box(HWND hwnd, size_t first, size_t max_lines, std::vector<ListLine> *lines,
                   size_t *count);

// The view of a list box: its line count, the first line shown and the
// caret line (0 in an empty list). False when hwnd is no list box.
struct ListView {
    size_t count = 0;
    size_t top = 0;
    size_t caret = 0;
};
bool read_list_view(HWND hwnd, ListView *view);

// Posted to a list box: wParam is how many lines the back end shows of it,
// which PageUp and PageDown move by and the caret is kept within.
constexpr UINT kListPage = WM_USER + 0x7E01;

// An edit's text (CR LF line ends) and its caret, a byte offset into the
// text at the start of a character. False when hwnd is no edit.
bool read_edit(HWND hwnd, std::string *text, size_t *caret);

// The window that has the keyboard focus on that thread, or null.
HWND focus_of(DWORD thread_id);

// The clipboard's CF_TEXT, up to its first zero byte; false when the
// clipboard holds no text.
bool read_clipboard_text(std::string *text);

// Pop-up menus (class "#32768", shown by TrackPopupMenu): read_menu copies
// the pop-up's lines, false when popup is no menu. To choose line i a back
// end posts kMenuChoose with wParam i to the pop-up; kMenuChoose with a
// wParam beyond the lines, WM_KEYDOWN(VK_ESCAPE) to the pop-up, or a click
// posted to any other window cancels the menu.
struct MenuLine {
    std::string text;
    UINT id = 0;
    bool popup = false;  // opens a submenu; choosing it cancels
};
constexpr UINT kMenuChoose = WM_USER + 0x7E00;
bool read_menu(HWND popup, std::vector<MenuLine> *lines);

}  // namespace display
}  // namespace compat
