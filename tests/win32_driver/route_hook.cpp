// Loaded into the program by the driver, which runs its exports in threads
// of their own inside the program:
// - QvInstallRoutes: the program's imported connect is replaced by one that
//   first applies the driver's routes, so its service address reaches the
//   test's fake service without root and on whatever port that has; the
//   imports that make and end the objects the protocol counts are wrapped
//   to count them (QvCountLive reports them);
// - QvMessageBoxStyle: the uType of a showing message box, read back from
//   its buttons and icon where the icons are the program's own handles;
// - QvIdleHook: a message hook that answers the driver's idle probe once
//   the thread takes it from its queue, that is once all that was posted
//   before it has been carried out.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "route_table.h"

namespace {

typedef int(WSAAPI *ConnectCall)(SOCKET, const sockaddr *, int);
ConnectCall real_connect = nullptr;
QvRouteTable *table = nullptr;

int WSAAPI RoutedConnect(SOCKET s, const sockaddr *name, int length) {
    sockaddr_in to;
    if (table && name && length >= static_cast<int>(sizeof to) && name->sa_family == AF_INET) {
        std::memcpy(&to, name, sizeof to);
        const LONG n = table->count;
        for (LONG i = 0; i < n && i < QV_MAX_ROUTES; ++i) {
            const QvRoute &r = table->routes[i];
            if (r.addr != to.sin_addr.s_addr || r.port != to.sin_port) continue;
            if (r.to_port == 0) {
                WSASetLastError(WSAECONNREFUSED);
                return SOCKET_ERROR;
            }
            to.sin_addr.s_addr = r.to_addr;
            to.sin_port = r.to_port;
            return real_connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to);
        }
    }
    return real_connect(s, name, length);
}

// ---- the live objects, counted as the program makes and ends them ----

struct Live {
    std::mutex mutex;
    std::set<HGLOBAL> blocks;
    HGLOBAL clipboard_block = nullptr;  // the system's once handed over
    std::set<HANDLE> handles;
    std::vector<HANDLE> threads;  // duplicates, to see the threads end
    std::set<SOCKET> sockets;
};
Live *live = nullptr;

decltype(&GlobalAlloc) real_global_alloc;
decltype(&GlobalFree) real_global_free;
decltype(&CreateThread) real_create_thread;
decltype(&CloseHandle) real_close_handle;
decltype(&SetClipboardData) real_set_clipboard_data;
decltype(&EmptyClipboard) real_empty_clipboard;
decltype(&socket) real_socket;
decltype(&closesocket) real_closesocket;

HGLOBAL WINAPI CountedGlobalAlloc(UINT flags, SIZE_T bytes) {
    HGLOBAL b = real_global_alloc(flags, bytes);
    std::lock_guard<std::mutex> lock(live->mutex);
    if (b) live->blocks.insert(b);
    return b;
}

HGLOBAL WINAPI CountedGlobalFree(HGLOBAL b) {
    HGLOBAL left = real_global_free(b);
    std::lock_guard<std::mutex> lock(live->mutex);
    if (!left) live->blocks.erase(b);
    return left;
}

// The clipboard's block stays counted while the clipboard holds it; the
// system frees it when the clipboard is emptied.
HANDLE WINAPI CountedSetClipboardData(UINT format, HANDLE data) {
    HANDLE h = real_set_clipboard_data(format, data);
    std::lock_guard<std::mutex> lock(live->mutex);
    if (h) live->clipboard_block = h;
    return h;
}

BOOL WINAPI CountedEmptyClipboard() {
    BOOL ok = real_empty_clipboard();
    std::lock_guard<std::mutex> lock(live->mutex);
    if (ok && live->clipboard_block) {
        live->blocks.erase(live->clipboard_block);
        live->clipboard_block = nullptr;
    }
    return ok;
}

HANDLE WINAPI CountedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                  LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD id) {
    std::lock_guard<std::mutex> lock(live->mutex);  // counted before it can end
    HANDLE h = real_create_thread(security, stack, start, parameter, flags | CREATE_SUSPENDED, id);
    if (!h) return h;
    HANDLE watch = nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0);
    if (watch) live->threads.push_back(watch);
    live->handles.insert(h);
    if (!(flags & CREATE_SUSPENDED)) ResumeThread(h);
    return h;
}

BOOL WINAPI CountedCloseHandle(HANDLE h) {
    {
        std::lock_guard<std::mutex> lock(live->mutex);
        live->handles.erase(h);
    }
    return real_close_handle(h);
}

SOCKET WSAAPI CountedSocket(int af, int type, int protocol) {
    SOCKET s = real_socket(af, type, protocol);
    std::lock_guard<std::mutex> lock(live->mutex);
    if (s != INVALID_SOCKET) live->sockets.insert(s);
    return s;
}

int WSAAPI CountedCloseSocket(SOCKET s) {
    int r = real_closesocket(s);
    std::lock_guard<std::mutex> lock(live->mutex);
    if (r == 0) live->sockets.erase(s);
    return r;
}

// Points the main module's imports of function in dll at replacement;
// the real function, or null when the program does not import it.
void *PatchImport(const char *dll, const char *function, void *replacement) {
    HMODULE module = GetModuleHandleA(dll);
    void *real = module ? reinterpret_cast<void *>(GetProcAddress(module, function)) : nullptr;
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || !real) return nullptr;
    bool patched = false;
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<char *>(base + d->Name), dll) != 0) continue;
        for (auto *t = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk); t->u1.Function; ++t) {
            if (t->u1.Function != reinterpret_cast<DWORD_PTR>(real)) continue;
            DWORD old;
            VirtualProtect(&t->u1.Function, sizeof t->u1.Function, PAGE_READWRITE, &old);
            t->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
            VirtualProtect(&t->u1.Function, sizeof t->u1.Function, old, &old);
            patched = true;
        }
    }
    return patched ? real : nullptr;
}

template <class F>
bool Patch(const char *dll, const char *function, F replacement, F *real) {
    *real = reinterpret_cast<F>(PatchImport(dll, function, reinterpret_cast<void *>(replacement)));
    return *real != nullptr;
}

bool PatchImports() {
    live = new Live;
    return Patch("ws2_32.dll", "connect", &RoutedConnect, &real_connect) &&
           Patch("ws2_32.dll", "socket", &CountedSocket, &real_socket) &&
           Patch("ws2_32.dll", "closesocket", &CountedCloseSocket, &real_closesocket) &&
           Patch("kernel32.dll", "GlobalAlloc", &CountedGlobalAlloc, &real_global_alloc) &&
           Patch("kernel32.dll", "GlobalFree", &CountedGlobalFree, &real_global_free) &&
           Patch("kernel32.dll", "CreateThread", &CountedCreateThread, &real_create_thread) &&
           Patch("kernel32.dll", "CloseHandle", &CountedCloseHandle, &real_close_handle) &&
           Patch("user32.dll", "SetClipboardData", &CountedSetClipboardData, &real_set_clipboard_data) &&
           Patch("user32.dll", "EmptyClipboard", &CountedEmptyClipboard, &real_empty_clipboard);
}

bool OpenTable() {
    char name[64];
    std::snprintf(name, sizeof name, QV_ROUTE_TABLE_NAME, GetCurrentProcessId());
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return false;
    table = static_cast<QvRouteTable *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof *table));
    return table != nullptr;
}

}  // namespace

// Run by the driver in a thread of its own inside the program; 1 once the
// program's connects go through the routes, 2 without the driver's table,
// 3 when the program imports no connect.
extern "C" __declspec(dllexport) DWORD WINAPI QvInstallRoutes(LPVOID) {
    if (!OpenTable()) return 2;
    return PatchImports() ? 1 : 3;
}

// Writes the live objects into the driver's table; 1 when done.
extern "C" __declspec(dllexport) DWORD WINAPI QvCountLive(LPVOID) {
    if (!live || !table) return 0;
    std::lock_guard<std::mutex> lock(live->mutex);
    auto ended = [](HANDLE h) {
        if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
        real_close_handle(h);
        return true;
    };
    live->threads.erase(std::remove_if(live->threads.begin(), live->threads.end(), ended),
                        live->threads.end());
    table->live.blocks = static_cast<LONG>(live->blocks.size());
    table->live.threads = static_cast<LONG>(live->threads.size());
    table->live.handles = static_cast<LONG>(live->handles.size());
    table->live.sockets = static_cast<LONG>(live->sockets.size());
    return 1;
}

// The uType of a message box: its buttons, its icon, and MB_SYSTEMMODAL
// when it stays on top; 0xFFFFFFFF for any other window.
extern "C" __declspec(dllexport) DWORD WINAPI QvMessageBoxStyle(LPVOID window) {
    HWND box = static_cast<HWND>(window);
    char name[16] = "";
    if (!IsWindowVisible(box) || !GetClassNameA(box, name, sizeof name) || std::strcmp(name, "#32770"))
        return 0xFFFFFFFFu;
    struct Buttons {
        int ids[3];
        DWORD type;
    } const kButtons[] = {
        {{IDYES, IDNO, IDCANCEL}, MB_YESNOCANCEL}, {{IDABORT, IDRETRY, IDIGNORE}, MB_ABORTRETRYIGNORE},
        {{IDYES, IDNO, 0}, MB_YESNO}, {{IDRETRY, IDCANCEL, 0}, MB_RETRYCANCEL},
        {{IDOK, IDCANCEL, 0}, MB_OKCANCEL}, {{IDOK, 0, 0}, MB_OK},
    };
    auto shows = [&](int id) {
        HWND b = GetDlgItem(box, id);
        return b && IsWindowVisible(b);
    };
    DWORD type = 0xFFFFFFFFu;
    for (const Buttons &b : kButtons) {
        bool all = true;
        for (int id : b.ids) all = all && (id == 0 || shows(id));
        if (all) {
            type = b.type;
            break;
        }
    }
    if (type == 0xFFFFFFFFu) return type;
    struct Icon {
        LPCSTR name;
        DWORD bits;
    } const kIcons[] = {{IDI_HAND, MB_ICONHAND}, {IDI_QUESTION, MB_ICONQUESTION},
                        {IDI_EXCLAMATION, MB_ICONEXCLAMATION}, {IDI_ASTERISK, MB_ICONASTERISK}};
    bool found_icon = false;
    for (HWND c = GetWindow(box, GW_CHILD); c && !found_icon; c = GetWindow(c, GW_HWNDNEXT)) {
        HICON shown = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
        if (!shown) continue;
        for (const Icon &i : kIcons)
            if (LoadIconA(nullptr, i.name) == shown) {
                type |= i.bits;
                found_icon = true;
            }
    }
    // A box with neither buttons of its own nor an icon is some other dialog.
    if (!found_icon && !shows(IDOK) && !shows(IDYES)) return 0xFFFFFFFFu;
    if (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) type |= MB_SYSTEMMODAL;
    return type;
}

// The idle probe: a registered message whose wParam is a sequence number.
extern "C" __declspec(dllexport) LRESULT CALLBACK QvIdleHook(int code, WPARAM removal, LPARAM lp) {
    static const UINT probe = RegisterWindowMessageA("qv-automation-idle");
    MSG *m = reinterpret_cast<MSG *>(lp);
    if (code == HC_ACTION && removal == PM_REMOVE && m->message == probe) {
        char name[64];
        std::snprintf(name, sizeof name, "qv-automation-idle-%lu-%lu", GetCurrentThreadId(),
                      static_cast<unsigned long>(m->wParam));
        HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        if (done) {
            SetEvent(done);
            CloseHandle(done);
        }
        m->message = WM_NULL;  // the program never sees the probe
    }
    return CallNextHookEx(nullptr, code, removal, lp);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
