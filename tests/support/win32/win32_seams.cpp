// The layer's test seams on real Win32: the objects the tests count, the
// connect routes, the host-call table under the sockets, the window change
// count and the style of a showing message box. The calls that seam_names.h
// renames land here, are counted or steered, and then reach Win32.
#include <winsock2.h>
#include <windows.h>

#include <compat_os.h>
#include <compat_seams.h>

#include <errno.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern "C" {
SOCKET WSAAPI QvSeamSocket(int af, int type, int protocol);
int WSAAPI QvSeamConnect(SOCKET s, const struct sockaddr *name, int namelen);
int WSAAPI QvSeamSend(SOCKET s, const char *buf, int len, int flags);
int WSAAPI QvSeamRecv(SOCKET s, char *buf, int len, int flags);
int WSAAPI QvSeamCloseSocket(SOCKET s);
HGLOBAL WINAPI QvSeamGlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL WINAPI QvSeamGlobalFree(HGLOBAL block);
HANDLE WINAPI QvSeamCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 LPDWORD id);
BOOL WINAPI QvSeamCloseHandle(HANDLE handle);
int WINAPI QvSeamMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}

namespace {

struct Route {
    ULONG addr;
    u_short port;
    ULONG to_addr;
    u_short to_port;
};

// A message box being shown by a thread: what MessageBoxA was given.
struct ShownBox {
    UINT type;
    std::string caption;
};

struct Objects {
    std::mutex mutex;
    std::set<HGLOBAL> blocks;
    std::set<int> sockets;
    std::set<HANDLE> handles;             // thread handles not yet closed
    std::vector<HANDLE> threads;          // our own duplicates, to see them end
    std::vector<Route> routes;
    std::map<DWORD, std::vector<ShownBox>> boxes;  // by the showing thread
};

Objects &objects() {
    static Objects *o = new Objects;  // outlives every thread at process exit
    return *o;
}

// ---- errno and Winsock errors ----

int ErrnoOf(int wsa) {
    switch (wsa) {
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAECONNRESET: return ECONNRESET;
    case WSAEMFILE: return EMFILE;
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    default: return EIO;
    }
}

int WsaOf(int error) {
    switch (error) {
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ENETUNREACH: return WSAENETUNREACH;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNRESET: return WSAECONNRESET;
    case EMFILE: return WSAEMFILE;
    default: return WSAENETDOWN;
    }
}

// ---- the host's calls: Winsock's blocking sockets ----

SOCKET S(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

int HostTcpSocket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        errno = ErrnoOf(WSAGetLastError());
        return -1;
    }
    return static_cast<int>(s);
}

int HostConnect(int fd, uint32_t addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addr;
    sa.sin_port = port;
    if (connect(S(fd), reinterpret_cast<sockaddr *>(&sa), sizeof sa) == SOCKET_ERROR) {
        errno = ErrnoOf(WSAGetLastError());
        return -1;
    }
    return 0;
}

int HostPendingError(int) { return 0; }  // connects here finish before they return

ptrdiff_t HostSendBytes(int fd, const void *data, size_t len) {
    int n = send(S(fd), static_cast<const char *>(data), static_cast<int>(len), 0);
    if (n == SOCKET_ERROR) {
        errno = ErrnoOf(WSAGetLastError());
        return -1;
    }
    return n;
}

ptrdiff_t HostRecvBytes(int fd, void *data, size_t len) {
    int n = recv(S(fd), static_cast<char *>(data), static_cast<int>(len), 0);
    if (n == SOCKET_ERROR) {
        errno = ErrnoOf(WSAGetLastError());
        return -1;
    }
    return n;
}

int HostCloseFd(int fd) { return closesocket(S(fd)) == 0 ? 0 : -1; }

const CompatOsCalls kHostCalls = {HostTcpSocket, HostConnect, HostPendingError,
                                  HostSendBytes, HostRecvBytes, HostCloseFd};
CompatOsCalls calls = kHostCalls;

// ---- the window change count ----

// What a screen shows of the process's windows, and how many of its
// counted threads still run; the count moves whenever this changes.
struct WindowState {
    std::vector<uintptr_t> items;
};

BOOL CALLBACK AddWindow(HWND h, LPARAM lp) {
    auto *state = reinterpret_cast<WindowState *>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    state->items.push_back(reinterpret_cast<uintptr_t>(h));
    state->items.push_back((IsWindowVisible(h) ? 1 : 0) | (IsWindowEnabled(h) ? 2 : 0));
    WCHAR text[256];
    // Read without a message to the window's thread, which may be busy.
    int n = InternalGetWindowText(h, text, 256);
    for (int i = 0; i < n; ++i) state->items.push_back(text[i]);
    if (GetParent(h) == nullptr || !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
        EnumChildWindows(h, AddWindow, lp);
    return TRUE;
}

long LiveThreads();

WindowState CurrentState() {
    WindowState state;
    EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&state));
    state.items.push_back(static_cast<uintptr_t>(LiveThreads()));
    return state;
}

struct ChangeCount {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned long count = 1;
};

ChangeCount &changes() {
    static ChangeCount *c = new ChangeCount;
    return *c;
}

void Bump() {
    ChangeCount &c = changes();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.count++;
    }
    c.changed.notify_all();
}

// Win32 tells another thread of the process about few of these changes, so
// a watcher thread compares what shows every few milliseconds.
void StartWatcher() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            std::vector<uintptr_t> last = CurrentState().items;
            for (;;) {
                WaitForSingleObject(GetCurrentThread(), 5);
                std::vector<uintptr_t> now = CurrentState().items;
                if (now != last) {
                    last.swap(now);
                    Bump();
                }
            }
        }).detach();
    });
}

long LiveThreads() {
    Objects &o = objects();
    std::lock_guard<std::mutex> lock(o.mutex);
    auto ended = [](HANDLE h) {
        if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
        ::CloseHandle(h);
        return true;
    };
    o.threads.erase(std::remove_if(o.threads.begin(), o.threads.end(), ended), o.threads.end());
    return static_cast<long>(o.threads.size());
}

BOOL CALLBACK AddProgramWindow(HWND h, LPARAM lp) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char name[16] = "";
    GetClassNameA(h, name, sizeof name);
    // The input method's window that Windows gives each thread with windows
    // is the system's, not the program's.
    if (pid == GetCurrentProcessId() && std::strcmp(name, "IME") != 0)
        reinterpret_cast<WindowState *>(lp)->items.push_back(reinterpret_cast<uintptr_t>(h));
    return TRUE;
}

bool ShowsBox(HWND box, const ShownBox &shown) {
    char text[512];
    int n = GetWindowTextA(box, text, sizeof text);
    return n >= 0 && shown.caption == std::string(text, static_cast<size_t>(n));
}

}  // namespace

// ---- the renamed calls ----

SOCKET WSAAPI QvSeamSocket(int, int, int) {
    int fd = calls.tcp_socket();
    if (fd < 0) {
        WSASetLastError(WsaOf(errno));
        return INVALID_SOCKET;
    }
    Objects &o = objects();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.sockets.insert(fd);
    return S(fd);
}

int WSAAPI QvSeamConnect(SOCKET s, const struct sockaddr *name, int) {
    sockaddr_in to;
    std::memcpy(&to, name, sizeof to);
    {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        for (const Route &r : o.routes) {
            if (r.addr != to.sin_addr.s_addr || r.port != to.sin_port) continue;
            if (r.to_port == 0) {
                WSASetLastError(WSAECONNREFUSED);
                return SOCKET_ERROR;
            }
            to.sin_addr.s_addr = r.to_addr;
            to.sin_port = r.to_port;
            break;
        }
    }
    if (calls.connect_ipv4(static_cast<int>(s), to.sin_addr.s_addr, to.sin_port) != 0) {
        WSASetLastError(WsaOf(errno));
        return SOCKET_ERROR;
    }
    return 0;
}

int WSAAPI QvSeamSend(SOCKET s, const char *buf, int len, int) {
    ptrdiff_t n = calls.send_bytes(static_cast<int>(s), buf, static_cast<size_t>(len));
    if (n < 0) {
        WSASetLastError(WsaOf(errno));
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

int WSAAPI QvSeamRecv(SOCKET s, char *buf, int len, int) {
    ptrdiff_t n = calls.recv_bytes(static_cast<int>(s), buf, static_cast<size_t>(len));
    if (n < 0) {
        WSASetLastError(WsaOf(errno));
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

int WSAAPI QvSeamCloseSocket(SOCKET s) {
    {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        if (o.sockets.erase(static_cast<int>(s)) == 0) {
            WSASetLastError(WSAENOTSOCK);
            return SOCKET_ERROR;
        }
    }
    return calls.close_fd(static_cast<int>(s)) == 0 ? 0 : SOCKET_ERROR;
}

HGLOBAL WINAPI QvSeamGlobalAlloc(UINT flags, SIZE_T bytes) {
    HGLOBAL block = GlobalAlloc(flags, bytes);
    if (block) {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        o.blocks.insert(block);
    }
    return block;
}

HGLOBAL WINAPI QvSeamGlobalFree(HGLOBAL block) {
    HGLOBAL left = GlobalFree(block);
    if (left == nullptr) {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        o.blocks.erase(block);
    }
    return left;
}

HANDLE WINAPI QvSeamCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 LPDWORD id) {
    Objects &o = objects();
    std::lock_guard<std::mutex> lock(o.mutex);  // the thread is counted before it can end
    HANDLE h = CreateThread(security, stack, start, parameter, flags | CREATE_SUSPENDED, id);
    if (!h) return nullptr;
    HANDLE watch = nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0);
    if (watch) o.threads.push_back(watch);
    o.handles.insert(h);
    if (!(flags & CREATE_SUSPENDED)) ResumeThread(h);
    return h;
}

BOOL WINAPI QvSeamCloseHandle(HANDLE handle) {
    {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        o.handles.erase(handle);
    }
    return CloseHandle(handle);
}

int WINAPI QvSeamMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const DWORD me = GetCurrentThreadId();
    {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        o.boxes[me].push_back(ShownBox{type, caption ? caption : "Error"});
    }
    int answer = MessageBoxA(owner, text, caption, type);
    {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        o.boxes[me].pop_back();
    }
    return answer;
}

// ---- the seams ----

CompatResourceCounts CompatGetResourceCounts(void) {
    CompatResourceCounts c{};
    c.threads = LiveThreads();
    WindowState windows;
    EnumWindows(AddProgramWindow, reinterpret_cast<LPARAM>(&windows));
    c.windows = static_cast<long>(windows.items.size());
    Objects &o = objects();
    std::lock_guard<std::mutex> lock(o.mutex);
    c.global_blocks = static_cast<long>(o.blocks.size());
    c.handles = static_cast<long>(o.handles.size());
    c.sockets = static_cast<long>(o.sockets.size());
    return c;
}

void CompatRouteConnect(ULONG addr, u_short port, ULONG to_addr, u_short to_port) {
    Objects &o = objects();
    std::lock_guard<std::mutex> lock(o.mutex);
    for (Route &r : o.routes) {
        if (r.addr == addr && r.port == port) {
            r.to_addr = to_addr;
            r.to_port = to_port;
            return;
        }
    }
    o.routes.push_back(Route{addr, port, to_addr, to_port});
}

void CompatClearRoutes(void) {
    Objects &o = objects();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.routes.clear();
}

CompatOsCalls *CompatGetOsCalls(void) { return &calls; }
const CompatOsCalls *CompatHostOsCalls(void) { return &kHostCalls; }
void CompatRestoreOsCalls(void) { calls = kHostCalls; }

unsigned long CompatWindowChangeCount(void) {
    StartWatcher();
    ChangeCount &c = changes();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.count;
}

int CompatWaitWindowChange(unsigned long seen, int timeout_ms) {
    StartWatcher();
    ChangeCount &c = changes();
    std::unique_lock<std::mutex> lock(c.mutex);
    auto moved = [&] { return c.count != seen; };
    if (timeout_ms < 0) {
        c.changed.wait(lock, moved);
        return 1;
    }
    return c.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), moved) ? 1 : 0;
}

void CompatSignalWindowChange(void) { Bump(); }

UINT CompatGetMessageBoxStyle(HWND box) {
    char name[16] = "";
    if (!IsWindow(box) || !IsWindowVisible(box) || !GetClassNameA(box, name, sizeof name) ||
        std::strcmp(name, "#32770") != 0)
        return COMPAT_NO_MESSAGE_BOX;
    const DWORD thread = GetWindowThreadProcessId(box, nullptr);
    std::vector<ShownBox> shown;
    {
        Objects &o = objects();
        std::lock_guard<std::mutex> lock(o.mutex);
        auto it = o.boxes.find(thread);
        if (it == o.boxes.end() || it->second.empty()) return COMPAT_NO_MESSAGE_BOX;
        shown = it->second;
    }
    // The innermost box of its thread is the one that shows.
    return ShowsBox(box, shown.back()) ? shown.back().type : COMPAT_NO_MESSAGE_BOX;
}
