// The Win32 automation driver: starts the program given on its command line
// in the current directory and serves the automation protocol
// (compat/src/display/automation/PROTOCOL.md) on its standard input and
// output with ordinary Win32 calls, as the program's own automation back
// end does on POSIX hosts. It ends with the program's exit code once the
// program ends, and ends the program with code 2 when its input ends.
//
// Besides the protocol it knows `shot <hwnd> <path>`, which writes what the
// screen shows of a window, frame included, as a 24-bit BMP file.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/automation/wire_text.h"
#include "route_table.h"

namespace {

HANDLE program = nullptr;
DWORD program_id = 0;
QvRouteTable *routes = nullptr;
HMODULE hook_module = nullptr;       // the hook DLL, loaded here too
DWORD_PTR remote_hook_base = 0;      // and where it sits in the program
const DWORD kSendTimeoutMs = 10000;

// ---- wire texts ----

// The protocol's own codec, shared with the automation back end.
std::string Wire(const std::string &bytes) { return compat::automation::escape_text(bytes); }

bool Unwire(const std::string &wire, std::string *bytes) {
    return compat::automation::unescape_text(wire, bytes);
}

std::string HwndText(HWND h) {
    return compat::automation::format_handle(reinterpret_cast<uintptr_t>(h));
}

bool ParseHwnd(const std::string &t, HWND *out) {
    uintptr_t h;
    if (!compat::automation::parse_handle(t, &h)) return false;
    *out = reinterpret_cast<HWND>(h);
    return true;
}

bool ParseLong(const std::string &t, long *out) {
    if (t.empty()) return false;
    char *end = nullptr;
    *out = std::strtol(t.c_str(), &end, 10);
    return *end == '\0';
}

// ---- the program's windows ----

bool Ours(HWND h) {
    DWORD pid = 0;
    return IsWindow(h) && GetWindowThreadProcessId(h, &pid) && pid == program_id;
}

BOOL CALLBACK CollectTop(HWND h, LPARAM lp) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char name[16] = "";
    GetClassNameA(h, name, sizeof name);
    if (pid == program_id && std::strcmp(name, "IME") != 0)
        reinterpret_cast<std::vector<HWND> *>(lp)->push_back(h);
    return TRUE;
}

// Top-level windows in the order they were made: handles grow as windows
// are made.
std::vector<HWND> TopWindows() {
    std::vector<HWND> out;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&out));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

std::string ClassOf(HWND h) {
    char name[256] = "";
    GetClassNameA(h, name, sizeof name);
    return name;
}

std::string TextOf(HWND h) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &length))
        return "";
    // Between processes the length may count characters, not bytes; a
    // GBK character takes two.
    std::string text(length * 2 + 2, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL,
                        kSendTimeoutMs, &got);
    text.resize(strnlen(text.c_str(), text.size()));
    return text;
}

// Why input to h is refused, or null: it or a parent is disabled or hidden.
const char *Refusal(HWND h) {
    for (HWND w = h; w; w = (GetWindowLongA(w, GWL_STYLE) & WS_CHILD) ? GetParent(w) : nullptr) {
        if (!IsWindowVisible(w)) return "hidden";
        if (!IsWindowEnabled(w)) return "disabled";
    }
    return nullptr;
}

long LiveThreads() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 t;
    t.dwSize = sizeof t;
    long n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == program_id) ++n;
    CloseHandle(snap);
    return n;
}

// What the screen shows, for the change count: windows, their state and
// texts, lists' lengths and selections, and the program's threads.
void AddState(HWND h, std::vector<DWORD_PTR> *s) {
    s->push_back(reinterpret_cast<DWORD_PTR>(h));
    s->push_back((IsWindowVisible(h) ? 1 : 0) | (IsWindowEnabled(h) ? 2 : 0));
    WCHAR text[512];
    int n = InternalGetWindowText(h, text, 512);
    for (int i = 0; i < n; ++i) s->push_back(text[i]);
    if (ClassOf(h) == "ListBox") {
        DWORD_PTR count = 0, sel = 0, caret = 0;
        SendMessageTimeoutA(h, LB_GETCOUNT, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &count);
        SendMessageTimeoutA(h, LB_GETSELCOUNT, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &sel);
        SendMessageTimeoutA(h, LB_GETCARETINDEX, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &caret);
        s->insert(s->end(), {count, sel, caret});
    }
    for (HWND c : Children(h)) AddState(c, s);
}

std::vector<DWORD_PTR> ScreenState() {
    std::vector<DWORD_PTR> s;
    for (HWND h : TopWindows()) AddState(h, &s);
    s.push_back(static_cast<DWORD_PTR>(LiveThreads()));
    return s;
}

// ---- code of the hook DLL run inside the program ----

// Runs the hook DLL's export in a thread of the program; its exit code.
bool RunInProgram(const char *export_name, void *argument, DWORD *result) {
    if (!hook_module || !remote_hook_base) return false;
    FARPROC local = GetProcAddress(hook_module, export_name);
    if (!local) return false;
    const DWORD_PTR offset = reinterpret_cast<DWORD_PTR>(local) - reinterpret_cast<DWORD_PTR>(hook_module);
    HANDLE t = CreateRemoteThread(program, nullptr, 0,
                                  reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<DWORD_PTR>(remote_hook_base + offset)),
                                  argument, 0, nullptr);
    if (!t) return false;
    bool ok = WaitForSingleObject(t, kSendTimeoutMs) == WAIT_OBJECT_0 && GetExitCodeThread(t, result);
    CloseHandle(t);
    return ok;
}

// Loads the hook DLL into the program and routes its connects.
bool InstallHook(const std::string &dll_path) {
    hook_module = LoadLibraryA(dll_path.c_str());
    if (!hook_module) {
        std::fprintf(stderr, "qv_win32_driver: cannot load %s (%lu)\n", dll_path.c_str(), GetLastError());
        return false;
    }
    void *remote = VirtualAllocEx(program, nullptr, dll_path.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(program, remote, dll_path.c_str(), dll_path.size() + 1, nullptr))
        return false;
    auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE t = CreateRemoteThread(program, nullptr, 0, load, remote, 0, nullptr);
    if (!t) return false;
    DWORD base = 0;
    WaitForSingleObject(t, kSendTimeoutMs);
    GetExitCodeThread(t, &base);
    CloseHandle(t);
    VirtualFreeEx(program, remote, 0, MEM_RELEASE);
    remote_hook_base = base;
    DWORD installed = 0;
    if (!base || !RunInProgram("QvInstallRoutes", nullptr, &installed) || installed != 1) {
        std::fprintf(stderr, "qv_win32_driver: the hook did not install (%lx, %lu)\n",
                     static_cast<unsigned long>(base), installed);
        return false;
    }
    return true;
}

// ---- replies ----

struct Reply {
    std::string text;
    void ok() { text = "ok\n"; }
    void ok(const std::string &fields) { text = "ok " + fields + "\n"; }
    void error(const char *reason) { text = std::string("error ") + reason + "\n"; }
    void records(const std::vector<std::string> &lines) {
        text = "ok " + std::to_string(lines.size()) + "\n";
        for (const std::string &l : lines) text += l + "\n";
    }
};

using Args = std::vector<std::string>;

bool WindowArg(const std::string &field, HWND *h, Reply *r) {
    if (!ParseHwnd(field, h)) {
        r->error("bad-request");
        return false;
    }
    if (!Ours(*h)) {
        r->error("no-window");
        return false;
    }
    return true;
}

bool InputArg(const std::string &field, HWND *h, Reply *r) {
    if (!WindowArg(field, h, r)) return false;
    if (const char *why = Refusal(*h)) {
        r->error(why);
        return false;
    }
    return true;
}

// ---- reading ----

void Windows(const Args &, Reply *r) {
    std::vector<std::string> lines;
    for (HWND h : TopWindows()) {
        lines.push_back(HwndText(h) + " " + Wire(ClassOf(h)) + " " + HwndText(GetWindow(h, GW_OWNER)) +
                        " " + std::to_string(GetWindowThreadProcessId(h, nullptr)) + " " +
                        (IsWindowEnabled(h) ? "1" : "0") + " " + (IsWindowVisible(h) ? "1" : "0") +
                        " " + Wire(TextOf(h)));
    }
    r->records(lines);
}

void ChildrenOf(const Args &a, Reply *r) {
    HWND parent;
    if (!WindowArg(a[1], &parent, r)) return;
    std::vector<std::string> lines;
    for (HWND c : Children(parent)) {
        lines.push_back(HwndText(c) + " " + std::to_string(GetDlgCtrlID(c)) + " " + Wire(ClassOf(c)) +
                        " " + (IsWindowEnabled(c) ? "1" : "0") + " " +
                        (IsWindowVisible(c) ? "1" : "0") + " " + Wire(TextOf(c)));
    }
    r->records(lines);
}

void Text(const Args &a, Reply *r) {
    HWND h;
    if (WindowArg(a[1], &h, r)) r->ok(Wire(TextOf(h)));
}

void List(const Args &a, Reply *r) {
    HWND h;
    if (!WindowArg(a[1], &h, r)) return;
    if (ClassOf(h) != "ListBox") return r->error("not-a-list");
    DWORD_PTR count = 0;
    SendMessageTimeoutA(h, LB_GETCOUNT, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &count);
    std::vector<std::string> lines;
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR length = 0, selected = 0, got = 0;
        // Wine hands a list's line to another process as UTF-16 whichever
        // form was asked for, so the driver asks for that and turns it back
        // into the ANSI code page's bytes, which the program gave.
        SendMessageTimeoutW(h, LB_GETTEXTLEN, i, 0, SMTO_NORMAL, kSendTimeoutMs, &length);
        std::wstring wide(length + 1, L'\0');
        SendMessageTimeoutW(h, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&wide[0]), SMTO_NORMAL,
                            kSendTimeoutMs, &got);
        wide.resize(wcsnlen(wide.c_str(), wide.size()));
        std::string text(wide.size() * 2 + 1, '\0');
        int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &text[0],
                                    static_cast<int>(text.size()), nullptr, nullptr);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        SendMessageTimeoutA(h, LB_GETSEL, i, 0, SMTO_NORMAL, kSendTimeoutMs, &selected);
        lines.push_back(std::string(static_cast<LONG_PTR>(selected) > 0 ? "1 " : "0 ") + Wire(text));
    }
    r->records(lines);
}

void MessageBoxStyle(const Args &a, Reply *r) {
    HWND h;
    if (!WindowArg(a[1], &h, r)) return;
    DWORD style = 0xFFFFFFFFu;
    if (!RunInProgram("QvMessageBoxStyle", h, &style) || style == 0xFFFFFFFFu)
        return r->error("not-a-message-box");
    char b[16];
    std::snprintf(b, sizeof b, "0x%lx", static_cast<unsigned long>(style));
    r->ok(b);
}

void Clipboard(const Args &, Reply *r) {
    if (!OpenClipboard(nullptr)) return r->error("busy");
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string text;
    if (data) {
        const char *p = static_cast<const char *>(GlobalLock(data));
        if (p) text.assign(p, strnlen(p, GlobalSize(data)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    r->ok(std::string(data ? "1 " : "0 ") + Wire(text));
}

// ---- input ----

void Type(const Args &a, Reply *r) {
    HWND h;
    std::string bytes;
    if (!Unwire(a[2], &bytes)) return r->error("bad-request");
    if (!InputArg(a[1], &h, r)) return;
    for (unsigned char b : bytes) PostMessageA(h, WM_CHAR, b, 1);
    r->ok();
}

void SetText(const Args &a, Reply *r) {
    HWND h;
    std::string bytes;
    if (!Unwire(a[2], &bytes)) return r->error("bad-request");
    if (!InputArg(a[1], &h, r)) return;
    DWORD_PTR done = 0;
    SendMessageTimeoutA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(bytes.c_str()), SMTO_NORMAL,
                        kSendTimeoutMs, &done);
    r->ok();
}

void Click(const Args &a, Reply *r) {
    HWND h;
    if (!WindowArg(a[1], &h, r)) return;
    if (ClassOf(h) != "Button") return r->error("not-a-button");
    if (const char *why = Refusal(h)) return r->error(why);
    PostMessageA(h, BM_CLICK, 0, 0);
    r->ok();
}

void RightClick(const Args &a, Reply *r) {
    HWND h;
    long x, y;
    if (!ParseLong(a[2], &x) || !ParseLong(a[3], &y)) return r->error("bad-request");
    if (!InputArg(a[1], &h, r)) return;
    PostMessageA(h, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(h),
                 MAKELPARAM(static_cast<short>(x), static_cast<short>(y)));
    r->ok();
}

void Select(const Args &a, Reply *r) {
    HWND h;
    long index;
    if (!ParseLong(a[2], &index) || (a[3] != "0" && a[3] != "1")) return r->error("bad-request");
    if (!WindowArg(a[1], &h, r)) return;
    if (ClassOf(h) != "ListBox") return r->error("not-a-list");
    if (const char *why = Refusal(h)) return r->error(why);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(h, LB_SETSEL, a[3] == "1", index, SMTO_NORMAL, kSendTimeoutMs, &result);
    if (static_cast<LONG_PTR>(result) == LB_ERR) return r->error("no-line");
    r->ok();
}

void Close(const Args &a, Reply *r) {
    HWND h;
    if (!WindowArg(a[1], &h, r)) return;
    if (!(GetWindowLongA(h, GWL_STYLE) & WS_SYSMENU) || (GetWindowLongA(h, GWL_STYLE) & WS_CHILD))
        return r->error("no-close-box");
    if (const char *why = Refusal(h)) return r->error(why);
    PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    r->ok();
}

const char *WaitIdle(DWORD thread, DWORD timeout_ms);

struct KeyName {
    const char *name;
    WPARAM vk;
    bool shift;
};
const KeyName kKeys[] = {
    {"RETURN", VK_RETURN, false}, {"ESCAPE", VK_ESCAPE, false}, {"TAB", VK_TAB, false},
    {"SHIFT-TAB", VK_TAB, true},  {"SPACE", VK_SPACE, false},   {"UP", VK_UP, false},
    {"DOWN", VK_DOWN, false},     {"LEFT", VK_LEFT, false},     {"RIGHT", VK_RIGHT, false},
};

void Key(const Args &a, Reply *r) {
    HWND h;
    if (!InputArg(a[1], &h, r)) return;
    if (a[2] == "APPS" || a[2] == "SHIFT-F10") {
        PostMessageA(h, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(h), MAKELPARAM(-1, -1));
        return r->ok();
    }
    const KeyName *k = nullptr;
    for (const KeyName &candidate : kKeys)
        if (a[2] == candidate.name) k = &candidate;
    if (!k) return r->error("unknown-key");
    // The keystroke is the named window's, as if it had the focus. The
    // program's message loop types the character from the key-down itself
    // (TranslateMessage), so the driver posts no WM_CHAR of its own.
    HWND target = h;
    if (k->shift) PostMessageA(target, WM_KEYDOWN, VK_SHIFT, 1);
    PostMessageA(target, WM_KEYDOWN, k->vk, 1);
    PostMessageA(target, WM_KEYUP, k->vk, 0xC0000001);
    if (k->shift) PostMessageA(target, WM_KEYUP, VK_SHIFT, 0xC0000001);
    // The character that the loop makes of the key-down is posted behind
    // whatever was posted already; the reply waits for it, so input that
    // follows comes after it, as typing in order gives.
    WaitIdle(GetWindowThreadProcessId(target, nullptr), kSendTimeoutMs);
    r->ok();
}

// ---- waiting ----

unsigned long change_count = 1;
std::vector<DWORD_PTR> last_state;

// Moves the change count on when the screen shows something new.
void LookAgain() {
    std::vector<DWORD_PTR> now = ScreenState();
    if (now != last_state) {
        last_state.swap(now);
        ++change_count;
    }
}

void Wait(const Args &a, Reply *r) {
    long seen, timeout;
    if (!ParseLong(a[1], &seen) || !ParseLong(a[2], &timeout)) return r->error("bad-request");
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeout, 0L));
    LookAgain();
    // Win32 tells another process of few of these changes, so the driver
    // looks again every few milliseconds.
    while (change_count == static_cast<unsigned long>(seen) && GetTickCount64() < deadline &&
           WaitForSingleObject(program, 5) == WAIT_TIMEOUT)
        LookAgain();
    r->ok(std::to_string(change_count));
}

// Waits until the thread has carried out all that was posted to it: a
// probe posted after it comes out of the queue, where the hook answers it.
// "timeout", "refused", or null once the thread is idle or the program ended.
const char *WaitIdle(DWORD thread, DWORD timeout_ms) {
    static const UINT probe = RegisterWindowMessageA("qv-automation-idle");
    static unsigned long sequence = 0;
    static DWORD hooked_thread = 0;
    if (hooked_thread != thread) {
        auto proc = reinterpret_cast<HOOKPROC>(
            reinterpret_cast<void *>(GetProcAddress(hook_module, "QvIdleHook")));
        if (!proc || !SetWindowsHookExA(WH_GETMESSAGE, proc, hook_module, thread)) return "refused";
        hooked_thread = thread;
    }
    char name[64];
    std::snprintf(name, sizeof name, "qv-automation-idle-%lu-%lu", thread, ++sequence);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, name);
    // To the thread, not a window: the input may have ended the window.
    if (!PostThreadMessageA(thread, probe, sequence, 0)) {
        CloseHandle(done);
        return nullptr;  // the thread has gone
    }
    HANDLE both[2] = {done, program};
    DWORD w = WaitForMultipleObjects(2, both, FALSE, timeout_ms);
    CloseHandle(done);
    return w == WAIT_TIMEOUT ? "timeout" : nullptr;
}

void Idle(const Args &a, Reply *r) {
    HWND h;
    long timeout;
    if (!ParseLong(a[2], &timeout)) return r->error("bad-request");
    if (!WindowArg(a[1], &h, r)) return;
    const char *why = WaitIdle(GetWindowThreadProcessId(h, nullptr), static_cast<DWORD>(std::max(timeout, 0L)));
    if (why) r->error(why);
    else r->ok();
}

void Route(const Args &a, Reply *r) {
    long port, to_port;
    if (!ParseLong(a[2], &port) || !ParseLong(a[4], &to_port) || port < 0 || port > 65535 ||
        to_port < 0 || to_port > 65535)
        return r->error("bad-request");
    const ULONG addr = inet_addr(a[1].c_str()), to_addr = inet_addr(a[3].c_str());
    if (!routes) return r->error("refused");
    QvRoute route{addr, htons(static_cast<u_short>(port)), to_addr, htons(static_cast<u_short>(to_port))};
    LONG n = routes->count;
    for (LONG i = 0; i < n; ++i) {
        if (routes->routes[i].addr == addr && routes->routes[i].port == route.port) {
            routes->routes[i] = route;
            return r->ok();
        }
    }
    if (n >= QV_MAX_ROUTES) return r->error("refused");
    routes->routes[n] = route;
    InterlockedExchange(&routes->count, n + 1);
    r->ok();
}

// ---- the extra: a picture of a window ----

bool WriteBmp(const std::string &path, HDC dc, HBITMAP bitmap, int w, int h) {
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD row = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(row * static_cast<DWORD>(h));
    if (!GetDIBits(dc, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS))
        return false;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
              std::fwrite(pixels.data(), pixels.size(), 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

void Shot(const Args &a, Reply *r) {
    HWND h;
    std::string path;
    if (!Unwire(a[2], &path)) return r->error("bad-request");
    if (!WindowArg(a[1], &h, r)) return;
    RECT rc;
    GetWindowRect(h, &rc);
    const int w = rc.right - rc.left, ht = rc.bottom - rc.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, ht);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, ht, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(memory, old);
    bool ok = WriteBmp(path, memory, bitmap, w, ht);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (ok) r->ok();
    else r->error("refused");
}

void CountWindows(HWND h, long *n) {
    ++*n;
    for (HWND c : Children(h)) CountWindows(c, n);
}

// The hook's counts, the windows the driver sees, the threads the program
// made and has not ended.
void Counts(const Args &, Reply *r) {
    DWORD done = 0;
    if (!RunInProgram("QvCountLive", nullptr, &done) || done != 1) return r->error("refused");
    long windows = 0;
    for (HWND h : TopWindows()) CountWindows(h, &windows);
    char b[96];
    std::snprintf(b, sizeof b, "%ld %ld %ld %ld %ld", static_cast<long>(routes->live.blocks), windows,
                  static_cast<long>(routes->live.threads), static_cast<long>(routes->live.handles),
                  static_cast<long>(routes->live.sockets));
    r->ok(b);
}

void Hello(const Args &, Reply *r) { r->ok("quorvane-automation 1"); }

struct Command {
    const char *name;
    size_t fields;  // the command's own name included
    void (*run)(const Args &, Reply *);
};
const Command kCommands[] = {
    {"hello", 1, Hello},       {"windows", 1, Windows},       {"children", 2, ChildrenOf},
    {"text", 2, Text},         {"list", 2, List},             {"msgboxstyle", 2, MessageBoxStyle},
    {"clipboard", 1, Clipboard}, {"type", 3, Type},           {"key", 3, Key},
    {"settext", 3, SetText},   {"click", 2, Click},           {"rclick", 4, RightClick},
    {"select", 4, Select},     {"close", 2, Close},           {"wait", 3, Wait},
    {"idle", 3, Idle},         {"route", 5, Route},           {"shot", 3, Shot},
    {"counts", 1, Counts},
};

std::string Serve(const std::string &line) {
    Args args;
    size_t start = 0;
    for (;;) {
        size_t space = line.find(' ', start);
        args.push_back(line.substr(start, space == std::string::npos ? std::string::npos : space - start));
        if (space == std::string::npos) break;
        start = space + 1;
    }
    Reply reply;
    reply.error("unknown-command");
    for (const Command &c : kCommands) {
        if (args[0] != c.name) continue;
        if (args.size() != c.fields) reply.error("bad-request");
        else c.run(args, &reply);
    }
    return reply.text;
}

// ---- start and the request loop ----

// Held while a request is served, so the reply to a request that ends the
// program still goes out before the driver ends.
CRITICAL_SECTION serving;

// Ends the driver with the program's code when the program ends.
DWORD WINAPI WatchProgram(LPVOID) {
    WaitForSingleObject(program, INFINITE);
    EnterCriticalSection(&serving);
    DWORD code = 1;
    GetExitCodeProcess(program, &code);
    ExitProcess(code);
}

bool StartProgram(const char *path) {
    // Killed with the driver, whichever way the driver ends.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    std::string command = std::string("\"") + path + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(path, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &si, &pi)) {
        std::fprintf(stderr, "qv_win32_driver: CreateProcess %s: %lu\n", path, GetLastError());
        return false;
    }
    AssignProcessToJobObject(job, pi.hProcess);
    program = pi.hProcess;
    program_id = pi.dwProcessId;
    char name[64];
    std::snprintf(name, sizeof name, QV_ROUTE_TABLE_NAME, program_id);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(QvRouteTable), name);
    routes = static_cast<QvRouteTable *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof *routes));
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    return routes != nullptr;
}

// The hook goes in once the program has started up and waits for input
// (its main window shows), before any input could start a connection.
bool HookWhenStarted(const std::string &dll) {
    WaitForInputIdle(program, 60000);
    return InstallHook(dll);
}

bool ReadLine(HANDLE in, std::string *buffer, std::string *line) {
    for (;;) {
        size_t end = buffer->find('\n');
        if (end != std::string::npos) {
            *line = buffer->substr(0, end);
            buffer->erase(0, end + 1);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        if (buffer->size() > (1u << 20)) return false;
        char chunk[4096];
        DWORD got = 0;
        if (!ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0) return false;
        buffer->append(chunk, got);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qv_win32_driver <program.exe> <qv_win32_hook.dll>\n");
        return 2;
    }
    char dll[MAX_PATH];
    if (!GetFullPathNameA(argv[2], MAX_PATH, dll, nullptr) || !StartProgram(argv[1]) ||
        !HookWhenStarted(dll)) {
        std::fprintf(stderr, "qv_win32_driver: cannot start %s with its hook\n", argv[1]);
        if (program) TerminateProcess(program, 2);
        return 2;
    }
    InitializeCriticalSection(&serving);
    CreateThread(nullptr, 0, WatchProgram, nullptr, 0, nullptr);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string buffer, line;
    while (ReadLine(in, &buffer, &line)) {
        EnterCriticalSection(&serving);
        const std::string reply = Serve(line);
        DWORD written = 0;
        WriteFile(out, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
        LeaveCriticalSection(&serving);
    }
    // The driver's user has gone: the program cannot be used any more.
    TerminateProcess(program, 2);
    WaitForSingleObject(program, 10000);
    return 2;
}
