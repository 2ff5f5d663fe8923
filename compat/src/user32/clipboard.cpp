// The clipboard: one process-wide store of blocks by format. A block handed
// to SetClipboardData belongs to the clipboard from then on and is released
// when the clipboard is emptied again.
#include <windows.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "display/display.h"

namespace {

struct Clipboard {
    std::mutex mutex;
    bool open = false;
    DWORD open_thread = 0;
    HWND owner = nullptr;
    std::map<UINT, HANDLE> data;
    bool changed = false;  // emptied or given data since it was opened
};

Clipboard &clipboard() {
    static auto *c = new Clipboard();
    return *c;
}

bool opened_by_caller(Clipboard &c) { return c.open && c.open_thread == GetCurrentThreadId(); }

}  // namespace

BOOL WINAPI OpenClipboard(HWND owner) {
    Clipboard &c = clipboard();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.open && c.open_thread != GetCurrentThreadId()) {
        SetLastError(5 /* ERROR_ACCESS_DENIED */);
        return FALSE;
    }
    c.open = true;
    c.open_thread = GetCurrentThreadId();
    c.owner = owner;
    return TRUE;
}

BOOL WINAPI EmptyClipboard(void) {
    Clipboard &c = clipboard();
    std::map<UINT, HANDLE> old;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!opened_by_caller(c)) {
            SetLastError(1418 /* ERROR_CLIPBOARD_NOT_OPEN */);
            return FALSE;
        }
        old.swap(c.data);
        c.changed = true;
    }
    for (auto &entry : old) GlobalFree(entry.second);
    return TRUE;
}

HANDLE WINAPI SetClipboardData(UINT format, HANDLE block) {
    Clipboard &c = clipboard();
    HANDLE replaced = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!opened_by_caller(c) || block == nullptr) {
            SetLastError(1418 /* ERROR_CLIPBOARD_NOT_OPEN */);
            return nullptr;
        }
        auto it = c.data.find(format);
        if (it != c.data.end()) replaced = it->second;
        c.data[format] = block;
        c.changed = true;
    }
    if (replaced && replaced != block) GlobalFree(replaced);
    return block;
}

HANDLE WINAPI GetClipboardData(UINT format) {
    Clipboard &c = clipboard();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!opened_by_caller(c)) return nullptr;
    auto it = c.data.find(format);
    return it == c.data.end() ? nullptr : it->second;
}

// A display back end hears of new contents once the clipboard is closed.
BOOL WINAPI CloseClipboard(void) {
    Clipboard &c = clipboard();
    bool changed;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!opened_by_caller(c)) {
            SetLastError(1418 /* ERROR_CLIPBOARD_NOT_OPEN */);
            return FALSE;
        }
        c.open = false;
        c.open_thread = 0;
        changed = c.changed;
        c.changed = false;
    }
    if (changed) compat::display::changed(nullptr, compat::display::Change::Clipboard);
    return TRUE;
}

namespace compat {
namespace display {

// Under the clipboard's lock, which EmptyClipboard takes before it lets
// the old blocks go, so the block cannot go while it is read.
bool read_clipboard_text(std::string *text) {
    Clipboard &c = clipboard();
    std::lock_guard<std::mutex> lock(c.mutex);
    auto it = c.data.find(CF_TEXT);
    if (it == c.data.end()) return false;
    const SIZE_T size = GlobalSize(it->second);
    const char *bytes = static_cast<const char *>(GlobalLock(it->second));
    text->clear();
    if (bytes && size > 0) text->assign(bytes, strnlen(bytes, size));
    if (bytes) GlobalUnlock(it->second);
    return true;
}

}  // namespace display
}  // namespace compat
