// Windows of the layer: what a window is, the registry that maps HWND tokens
// to windows, and the class table behind CreateWindowExA.
//
// An HWND is a token of ours, never reused, that names one Window in the
// registry while the window exists. A window belongs to the thread that
// created it: its procedure runs on that thread (SendMessageA from another
// thread queues the call there, see queue.h), and only that thread may
// destroy it.
//
// Built-in control classes are C++ objects (Control) behind one shared
// window procedure (builtin_window_proc), so subclassing with
// SetWindowLongPtrA(GWLP_WNDPROC) and CallWindowProcA works as on Win32.
//
// Locking: every field marked "guarded" is read and written under
// window_mutex(), held only for short copies and never across a window
// procedure, a display notification or a wait.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/thread_record.h"

namespace compat {

struct Window;

// The state and behaviour of a built-in control. handle() runs on the
// window's thread, as the class's window procedure; what it does not handle
// it passes to def_window_proc.
struct Control {
    virtual ~Control() = default;
    virtual LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) = 0;
};

struct WindowClass {
    const char *name;  // as GetClassNameA reports it; matched without case
    // Makes the control object for a new window (may return null, for a
    // class with no state of its own). Called on the creating thread before
    // the window exists; cs carries the creation style.
    std::unique_ptr<Control> (*make)(const CREATESTRUCTA &cs);
};

// The built-in classes: "Static", "Button", "ListBox" and "#32770" (the
// dialog class). Other parts of the layer add theirs with register_class
// (before the class is first used; the table only grows).
void register_class(const WindowClass &c);
const WindowClass *find_class(const char *name);

struct Window {
    // Fixed from creation on.
    HWND handle = nullptr;
    const WindowClass *cls = nullptr;
    std::shared_ptr<ThreadRecord> thread;  // the creator, which owns the window
    DWORD thread_id = 0;
    std::shared_ptr<Control> control;      // may be null; read by display back ends

    std::atomic<WNDPROC> proc{nullptr};

    // Guarded by window_mutex().
    std::string text;
    DWORD style = 0;
    DWORD ex_style = 0;
    LONG_PTR id = 0;          // children: the hMenu given to CreateWindowExA
    LONG_PTR user_data = 0;   // GWLP_USERDATA
    HWND parent = nullptr;    // children only
    HWND owner = nullptr;     // top-level windows only
    std::vector<HWND> children;  // creation order, which is also Z order
    RECT rect{0, 0, 0, 0};    // as given at creation, in the parent's units
    bool destroying = false;  // DestroyWindow has begun
};

std::mutex &window_mutex();

// The window that h names, or null when h names none (any more).
std::shared_ptr<Window> find_window(HWND h);

// The built-in classes' window procedure: hands the message to the
// window's Control, or to def_window_proc when it has none.
LRESULT CALLBACK builtin_window_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

// Runs the window's procedure on the calling thread. The caller holds a
// reference to the window.
LRESULT call_window(Window &w, UINT msg, WPARAM wp, LPARAM lp);

// DefWindowProcA for a window in hand: text messages and WM_CLOSE.
LRESULT def_window_proc(Window &w, UINT msg, WPARAM wp, LPARAM lp);

// Creates a window of class cls on the calling thread. control, when given,
// replaces what the class would make (MessageBoxA attaches its own state to
// a "#32770" window). Sets the last error and returns null on failure.
HWND create_window(const CREATESTRUCTA &cs, const WindowClass *cls,
                   std::unique_ptr<Control> control);

// DestroyWindow without the owner-thread check: owned windows, WM_DESTROY,
// children, WM_NCDESTROY, then the window leaves the registry. Safe during
// unwinding, as long as the window procedures it calls do not wait.
void destroy_window(const std::shared_ptr<Window> &w);

// Destroys every window that thread_id created, in creation order; used
// when a thread ends.
void destroy_thread_windows(DWORD thread_id);

// The direct children of a window, or the top-level windows for null, in
// creation order.
std::vector<HWND> child_handles(HWND parent);

}  // namespace compat
