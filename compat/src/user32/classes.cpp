// The class table: the built-in control classes and those other parts of
// the layer register.
#include <strings.h>

#include <deque>
#include <mutex>

#include "user32/controls.h"
#include "user32/listbox.h"
#include "user32/window.h"

namespace compat {

namespace {

struct ClassTable {
    std::mutex mutex;
    // A deque keeps the entries where they are as it grows: windows point
    // at their class.
    std::deque<WindowClass> classes;
};

ClassTable &table() {
    static auto *t = [] {
        auto *t = new ClassTable();
        // Static keeps its text in the window (DefWindowProcA);
        // the dialog class has no state until a dialog or message box gives
        // its window one.
        t->classes.push_back(WindowClass{"Static", nullptr});
        t->classes.push_back(WindowClass{"Button", make_button});
        t->classes.push_back(WindowClass{"Edit", make_edit});
        t->classes.push_back(WindowClass{"ListBox", make_list_box});
        t->classes.push_back(WindowClass{"#32770", nullptr});
        t->classes.push_back(WindowClass{"#32768", nullptr});  // pop-up menus
        return t;
    }();
    return *t;
}

}  // namespace

void register_class(const WindowClass &c) {
    ClassTable &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (WindowClass &existing : t.classes) {
        if (strcasecmp(existing.name, c.name) == 0) {
            existing.make = c.make;
            return;
        }
    }
    t.classes.push_back(c);
}

const WindowClass *find_class(const char *name) {
    ClassTable &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const WindowClass &c : t.classes)
        if (strcasecmp(c.name, name) == 0) return &c;
    return nullptr;
}

}  // namespace compat
