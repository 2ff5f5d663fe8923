// The clipboard: one process-wide store of blocks by format. A block handed
// to SetClipboardData belongs to the clipboard from then on and is released
// when the clipboard is emptied again.
#include <windows.h>

#include <map>
#include <mutex>

namespace {

struct Clipboard {
    std::mutex mutex;
    bool open = false;
    DWORD open_thread = 0;
    HWND owner = nullptr;
    std::map<UINT, HANDLE> data;
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

BOOL WINAPI CloseClipboard(void) {
    Clipboard &c = clipboard();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!opened_by_caller(c)) {
        SetLastError(1418 /* ERROR_CLIPBOARD_NOT_OPEN */);
        return FALSE;
    }
    c.open = false;
    c.open_thread = 0;
    return TRUE;
}
