// Loaded into the program by the driver, which runs its exports in threads
// of their own inside the program:
// - QvInstallRoutes: the program's imported connect is replaced by one that
//   first applies the driver's routes, so its service address reaches the
//   test's fake service without root and on whatever port that has;
// - QvMessageBoxStyle: the uType of a showing message box, read back from
//   its buttons and icon where the icons are the program's own handles;
// - QvIdleHook: a message hook that answers the driver's idle probe once
//   the thread takes it from its queue, that is once all that was posted
//   before it has been carried out.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

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

// Points the main module's import of ws2_32's connect at RoutedConnect.
bool PatchImport() {
    HMODULE ws2 = GetModuleHandleA("ws2_32.dll");
    if (!ws2) return false;
    real_connect = reinterpret_cast<ConnectCall>(reinterpret_cast<void *>(GetProcAddress(ws2, "connect")));
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || !real_connect) return false;
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<char *>(base + d->Name), "ws2_32.dll") != 0) continue;
        for (auto *t = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk); t->u1.Function; ++t) {
            if (t->u1.Function != reinterpret_cast<DWORD_PTR>(real_connect)) continue;
            DWORD old;
            VirtualProtect(&t->u1.Function, sizeof t->u1.Function, PAGE_READWRITE, &old);
            t->u1.Function = reinterpret_cast<DWORD_PTR>(&RoutedConnect);
            VirtualProtect(&t->u1.Function, sizeof t->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

bool OpenTable() {
    char name[64];
    std::snprintf(name, sizeof name, QV_ROUTE_TABLE_NAME, GetCurrentProcessId());
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!mapping) return false;
    table = static_cast<QvRouteTable *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof *table));
    return table != nullptr;
}

}  // namespace

// Run by the driver in a thread of its own inside the program; 1 once the
// program's connects go through the routes, 2 without the driver's table,
// 3 when the program imports no connect.
extern "C" __declspec(dllexport) DWORD WINAPI QvInstallRoutes(LPVOID) {
    if (!OpenTable()) return 2;
    return PatchImport() ? 1 : 3;
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
