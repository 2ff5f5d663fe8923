#include "program_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char **environ;

namespace {

constexpr int kProgramFd = 3;           // where the program finds its channel

// Built with a Win32 driver, the driver runs under Wine and starts the
// Windows program; the channel is then the driver's standard input and output.
#ifndef QV_WIN32_DRIVER
#define QV_WIN32_DRIVER ""
#define QV_WIN32_HOOK ""
#define QV_WINE ""
#endif
const bool kThroughWin32Driver = QV_WIN32_DRIVER[0] != '\0';

std::string WindowsPath(const std::string &path) {
    std::string out = "Z:" + path;
    for (char &c : out)
        if (c == '/') c = '\\';
    return out;
}
constexpr int kReplyMarginMs = 30000;   // beyond a request's own time-out
constexpr int kEndGraceMs = 10000;      // for a program that lost its channel

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string> SplitSpaces(const std::string &line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t space = line.find(' ', start);
        if (space == std::string::npos) break;
        out.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    out.push_back(line.substr(start));
    return out;
}

bool ParseHwnd(const std::string &text, ProgramDriver::Hwnd *out) {
    if (text.size() < 3 || text.compare(0, 2, "0x") != 0) return false;
    char *end = nullptr;
    *out = strtoull(text.c_str() + 2, &end, 16);
    return *end == '\0';
}

bool ParseNumber(const std::string &text, long long *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    *out = strtoll(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0;
}

std::string HwndText(ProgramDriver::Hwnd h) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(h));
    return buffer;
}

}  // namespace

std::string WireText(const std::string &bytes) {
    std::string out;
    for (unsigned char b : bytes) {
        if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x21 && b <= 0x7E) {
            out += static_cast<char>(b);
        } else {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        }
    }
    return out;
}

bool FromWireText(const std::string &wire, std::string *bytes) {
    std::string out;
    for (size_t i = 0; i < wire.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(wire[i]);
        if (c < 0x21 || c > 0x7E) return false;
        if (c != '\\') {
            out += static_cast<char>(c);
        } else if (i + 1 < wire.size() && wire[i + 1] == '\\') {
            out += '\\';
            i += 1;
        } else if (i + 3 < wire.size() && wire[i + 1] == 'x' && HexValue(wire[i + 2]) >= 0 &&
                   HexValue(wire[i + 3]) >= 0) {
            out += static_cast<char>(HexValue(wire[i + 2]) * 16 + HexValue(wire[i + 3]));
            i += 3;
        } else {
            return false;
        }
    }
    *bytes = out;
    return true;
}

// ---- start and end ----

void ProgramDriver::WriteFixtureDatabase() {
    QqwryBuilder db;
    db.Add(Ip(1, 2, 3, 0), Ip(1, 2, 3, 255), "中国", "北京");
    db.Add(Ip(10, 0, 0, 0), Ip(10, 0, 255, 255), "局域网", "对方和您在同一内部网");
    db.Add(Ip(192, 0, 2, 0), Ip(192, 0, 2, 255), "美国", "", CountryForm::Mode2, AreaForm::Unknown);
    db.Add(Ip(198, 51, 100, 0), Ip(198, 51, 100, 255), "澳大利亚", kLongArea);
    db.Write();
}

ProgramDriver::ProgramDriver(bool with_database, const std::string &program_path) {
    dir_ = std::make_unique<TempWorkDir>();
    if (with_database) WriteFixtureDatabase();
    service_ = std::make_unique<FakeService>();

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        ADD_FAILURE() << "socketpair: " << strerror(errno);
        return;
    }
    channel_ = ends[0];
    int child_end = ends[1];
    if (child_end == kProgramFd) {  // dup2 onto itself would keep close-on-exec
        child_end = fcntl(ends[1], F_DUPFD_CLOEXEC, kProgramFd + 1);
        close(ends[1]);
    }

    std::vector<std::string> env_storage;
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "QV_DISPLAY=", 11) != 0) env_storage.push_back(*e);
    env_storage.push_back("QV_DISPLAY=automation:fd=" + std::to_string(kProgramFd));
    std::vector<char *> envp;
    for (std::string &s : env_storage) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program_path};
    if (kThroughWin32Driver)
        args = {QV_WINE, QV_WIN32_DRIVER, WindowsPath(program_path), WindowsPath(QV_WIN32_HOOK)};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char *program = argv[0];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (kThroughWin32Driver) {
        posix_spawn_file_actions_adddup2(&actions, child_end, 0);
        posix_spawn_file_actions_adddup2(&actions, child_end, 1);
    } else {
        posix_spawn_file_actions_adddup2(&actions, child_end, kProgramFd);
    }
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(child_end);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << strerror(rc);
        return;
    }
    pid_ = pid;
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd_ < 0) ADD_FAILURE() << "pidfd_open: " << strerror(errno);

    std::string status;
    std::vector<std::string> fields;
    if (!Request("hello", &status, &fields) || status != "ok" || fields.size() != 2 ||
        fields[0] != "quorvane-automation") {
        ADD_FAILURE() << "the program does not speak the automation protocol";
        return;
    }
    if (!RouteServiceToFake()) ADD_FAILURE() << "the program refused the route to the fake service";
}

bool ProgramDriver::RouteServiceToFake() {
    return Input(std::string("route ") + QV_SERVICE_ADDRESS + " 80 127.0.0.1 " +
                 std::to_string(service_->port())) == "ok";
}

bool ProgramDriver::RefuseServiceConnections() {
    return Input(std::string("route ") + QV_SERVICE_ADDRESS + " 80 127.0.0.1 0") == "ok";
}

ProgramDriver::~ProgramDriver() {
    if (running()) {
        ADD_FAILURE() << "the program was still running when the test ended";
        // A program that loses its channel ends on its own; one that does
        // not is killed.
        CloseChannel();
        if (WaitForExit(kEndGraceMs) < 0 && running()) Kill();
    }
    if (channel_ >= 0) close(channel_);
    if (pidfd_ >= 0) close(pidfd_);
    service_.reset();
    dir_.reset();
}

void ProgramDriver::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int ProgramDriver::WaitForExit(int timeout_ms) {
    if (pid_ <= 0) return -1;
    pollfd p{pidfd_, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        ADD_FAILURE() << "the program did not end within " << timeout_ms << " ms";
        Kill();
        return -1;
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    ADD_FAILURE() << "the program ended by signal " << WTERMSIG(status);
    return -1;
}

// ---- the channel ----

void ProgramDriver::CloseChannel() {
    if (channel_ >= 0) close(channel_);
    channel_ = -1;
}

bool ProgramDriver::SendRaw(const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(channel_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ProgramDriver::ReadLine(std::string *line, int timeout_ms) {
    const int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
        size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            *line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return true;
        }
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd p{channel_, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        char buffer[65536];
        ssize_t n = read(channel_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffered_.append(buffer, static_cast<size_t>(n));
    }
}

bool ProgramDriver::Request(const std::string &line, std::string *status,
                            std::vector<std::string> *fields, std::vector<std::string> *records,
                            int timeout_ms) {
    status->clear();
    fields->clear();
    if (records) records->clear();
    if (channel_ < 0 || !SendRaw(line + "\n")) {
        ADD_FAILURE() << "cannot send to the program: " << line;
        return false;
    }
    std::string first;
    if (!ReadLine(&first, timeout_ms)) {
        ADD_FAILURE() << "no reply from the program to: " << line;
        return false;
    }
    std::vector<std::string> parts = SplitSpaces(first);
    if (parts[0] == "error") {
        *status = parts.size() > 1 ? parts[1] : "";
        if (parts.size() > 2) fields->assign(parts.begin() + 2, parts.end());
        return true;
    }
    if (parts[0] != "ok") {
        ADD_FAILURE() << "malformed reply to " << line << ": " << first;
        return false;
    }
    *status = "ok";
    if (first != "ok") fields->assign(parts.begin() + 1, parts.end());
    if (records) {
        long long n;
        if (fields->empty() || !ParseNumber((*fields)[0], &n) || n < 0) {
            ADD_FAILURE() << "reply to " << line << " has no record count: " << first;
            return false;
        }
        for (long long i = 0; i < n; ++i) {
            std::string record;
            if (!ReadLine(&record, timeout_ms)) {
                ADD_FAILURE() << "reply to " << line << " ends after " << i << " of " << n
                              << " records";
                return false;
            }
            records->push_back(record);
        }
    }
    return true;
}

// ---- reading ----

std::vector<ProgramDriver::Window> ProgramDriver::Windows() {
    std::string status;
    std::vector<std::string> fields, records;
    std::vector<Window> out;
    if (!Request("windows", &status, &fields, &records) || status != "ok") return out;
    for (const std::string &r : records) {
        std::vector<std::string> f = SplitSpaces(r);
        Window w;
        long long thread;
        if (f.size() != 7 || !ParseHwnd(f[0], &w.hwnd) || !FromWireText(f[1], &w.class_name) ||
            !ParseHwnd(f[2], &w.owner) || !ParseNumber(f[3], &thread) ||
            !FromWireText(f[6], &w.title)) {
            ADD_FAILURE() << "malformed window record: " << r;
            continue;
        }
        w.thread = static_cast<unsigned long>(thread);
        w.enabled = f[4] == "1";
        w.visible = f[5] == "1";
        out.push_back(w);
    }
    return out;
}

bool ProgramDriver::FindWindow(const std::string &class_name, const std::string &title,
                               Window *out) {
    for (const Window &w : Windows()) {
        // Only a window on the screen: a dialog shows once its controls
        // are made, and hides when it ends.
        if (w.visible && w.class_name == class_name && w.title == title) {
            if (out) *out = w;
            return true;
        }
    }
    return false;
}

bool ProgramDriver::GetWindow(Hwnd hwnd, Window *out) {
    for (const Window &w : Windows()) {
        if (w.hwnd == hwnd) {
            if (out) *out = w;
            return true;
        }
    }
    return false;
}

std::vector<ProgramDriver::Child> ProgramDriver::Children(Hwnd parent) {
    std::string status;
    std::vector<std::string> fields, records;
    std::vector<Child> out;
    if (!Request("children " + HwndText(parent), &status, &fields, &records) || status != "ok")
        return out;
    for (const std::string &r : records) {
        std::vector<std::string> f = SplitSpaces(r);
        Child c;
        if (f.size() != 6 || !ParseHwnd(f[0], &c.hwnd) || !ParseNumber(f[1], &c.id) ||
            !FromWireText(f[2], &c.class_name) || !FromWireText(f[5], &c.text)) {
            ADD_FAILURE() << "malformed child record: " << r;
            continue;
        }
        c.enabled = f[3] == "1";
        c.visible = f[4] == "1";
        out.push_back(c);
    }
    return out;
}

bool ProgramDriver::GetChild(Hwnd parent, long long id, Child *out) {
    for (const Child &c : Children(parent)) {
        // An id travels as the control's number; -1 and 65535 both name
        // the unnamed static of a template.
        if (c.id == id || (c.id & 0xFFFF) == (id & 0xFFFF)) {
            if (out) *out = c;
            return true;
        }
    }
    return false;
}

ProgramDriver::Hwnd ProgramDriver::ChildId(Hwnd parent, long long id) {
    Child c;
    return GetChild(parent, id, &c) ? c.hwnd : 0;
}

std::string ProgramDriver::Text(Hwnd hwnd) {
    std::string status, text;
    std::vector<std::string> fields;
    if (!Request("text " + HwndText(hwnd), &status, &fields) || status != "ok") return "";
    if (fields.size() != 1 || !FromWireText(fields[0], &text))
        ADD_FAILURE() << "malformed text reply for " << HwndText(hwnd);
    return text;
}

std::vector<ProgramDriver::Line> ProgramDriver::ReadList(Hwnd list) {
    std::string status;
    std::vector<std::string> fields, records;
    std::vector<Line> out;
    if (!Request("list " + HwndText(list), &status, &fields, &records)) return out;
    if (status != "ok") {
        ADD_FAILURE() << "cannot read the list " << HwndText(list) << ": " << status;
        return out;
    }
    for (const std::string &r : records) {
        std::vector<std::string> f = SplitSpaces(r);
        Line l;
        if (f.size() != 2 || !FromWireText(f[1], &l.text)) {
            ADD_FAILURE() << "malformed list record: " << r;
            continue;
        }
        l.selected = f[0] == "1";
        out.push_back(l);
    }
    return out;
}

std::vector<std::string> ProgramDriver::ListTexts(Hwnd list) {
    std::vector<std::string> out;
    for (const Line &l : ReadList(list)) out.push_back(l.text);
    return out;
}

unsigned ProgramDriver::MessageBoxStyle(Hwnd box) {
    std::string status;
    std::vector<std::string> fields;
    if (!Request("msgboxstyle " + HwndText(box), &status, &fields) || status != "ok" ||
        fields.size() != 1)
        return ~0u;
    Hwnd style;
    return ParseHwnd(fields[0], &style) ? static_cast<unsigned>(style) : ~0u;
}

bool ProgramDriver::OpenMenu(Menu *out) {
    std::string status;
    std::vector<std::string> fields, records;
    if (!Request("menu", &status, &fields, &records) || status != "ok") return false;
    Menu m;
    if (fields.size() != 3 || !ParseNumber(fields[1], &m.x) || !ParseNumber(fields[2], &m.y)) {
        ADD_FAILURE() << "malformed menu reply";
        return false;
    }
    for (const std::string &r : records) {
        std::vector<std::string> f = SplitSpaces(r);
        MenuItem item;
        if (f.size() != 2 || !ParseNumber(f[0], &item.id) || !FromWireText(f[1], &item.text)) {
            ADD_FAILURE() << "malformed menu item: " << r;
            continue;
        }
        m.items.push_back(item);
    }
    if (out) *out = m;
    return true;
}

ProgramDriver::Clipboard ProgramDriver::ReadClipboard() {
    std::string status;
    std::vector<std::string> fields;
    Clipboard c;
    if (!Request("clipboard", &status, &fields) || status != "ok" || fields.size() != 2 ||
        !FromWireText(fields[1], &c.text)) {
        ADD_FAILURE() << "cannot read the clipboard: " << status;
        return c;
    }
    c.present = fields[0] == "1";
    return c;
}

ProgramDriver::Counts ProgramDriver::LiveCounts() {
    std::string status;
    std::vector<std::string> f;
    Counts c;
    if (!Request("counts", &status, &f) || status != "ok" || f.size() != 5 ||
        !ParseNumber(f[0], &c.blocks) || !ParseNumber(f[1], &c.windows) ||
        !ParseNumber(f[2], &c.threads) || !ParseNumber(f[3], &c.handles) ||
        !ParseNumber(f[4], &c.sockets))
        ADD_FAILURE() << "cannot read the program's live objects: " << status;
    return c;
}

// ---- input ----

std::string ProgramDriver::Input(const std::string &line) {
    std::string status;
    std::vector<std::string> fields;
    if (!Request(line, &status, &fields)) return "no-reply";
    return status;
}

std::string ProgramDriver::Type(Hwnd hwnd, const std::string &text) {
    return Input("type " + HwndText(hwnd) + " " + WireText(text));
}
std::string ProgramDriver::Key(Hwnd hwnd, const std::string &name) {
    return Input("key " + HwndText(hwnd) + " " + name);
}
std::string ProgramDriver::SetText(Hwnd hwnd, const std::string &text) {
    return Input("settext " + HwndText(hwnd) + " " + WireText(text));
}
std::string ProgramDriver::Click(Hwnd button) { return Input("click " + HwndText(button)); }
std::string ProgramDriver::RightClick(Hwnd hwnd, int x, int y) {
    return Input("rclick " + HwndText(hwnd) + " " + std::to_string(x) + " " + std::to_string(y));
}
std::string ProgramDriver::Select(Hwnd list, int index, bool selected) {
    return Input("select " + HwndText(list) + " " + std::to_string(index) +
                 (selected ? " 1" : " 0"));
}
std::string ProgramDriver::Choose(long long id) { return Input("choose " + std::to_string(id)); }
std::string ProgramDriver::HoldClipboard(bool hold) {
    return Input(std::string("holdclipboard ") + (hold ? "1" : "0"));
}
std::string ProgramDriver::CancelMenu() { return Input("menucancel"); }
std::string ProgramDriver::CloseBox(Hwnd hwnd) { return Input("close " + HwndText(hwnd)); }

// ---- waiting ----

bool ProgramDriver::WaitUntil(const std::function<bool()> &cond, int timeout_ms) {
    const int64_t deadline = NowMs() + timeout_ms;
    std::string status;
    std::vector<std::string> fields;
    if (!Request("wait 0 0", &status, &fields) || status != "ok" || fields.size() != 1)
        return false;
    std::string seen = fields[0];
    for (;;) {
        if (cond()) return true;
        const int64_t left = deadline - NowMs();
        if (left <= 0 || !running()) return false;
        if (!Request("wait " + seen + " " + std::to_string(left), &status, &fields, nullptr,
                     static_cast<int>(left) + kReplyMarginMs) ||
            status != "ok" || fields.size() != 1)
            return false;
        seen = fields[0];
    }
}

bool ProgramDriver::Idle(Hwnd hwnd, int timeout_ms) {
    std::string status;
    std::vector<std::string> fields;
    if (!Request("idle " + HwndText(hwnd) + " " + std::to_string(timeout_ms), &status, &fields,
                 nullptr, timeout_ms + kReplyMarginMs))
        return false;
    if (status != "ok") ADD_FAILURE() << "idle " << HwndText(hwnd) << ": " << status;
    return status == "ok";
}

bool ProgramDriver::WaitForWindow(const std::string &class_name, const std::string &title,
                                  Window *out, int timeout_ms) {
    return WaitUntil([&] { return FindWindow(class_name, title, out); }, timeout_ms);
}

bool ProgramDriver::WaitForGone(Hwnd hwnd, int timeout_ms) {
    return WaitUntil([&] { return !GetWindow(hwnd, nullptr) && Children(hwnd).empty(); },
                     timeout_ms);
}

bool ProgramDriver::WaitForMessageBox(const std::string &caption, Window *out, int timeout_ms) {
    return WaitUntil(
        [&] {
            for (const Window &w : Windows()) {
                if (w.class_name != "#32770" || w.title != caption) continue;
                if (MessageBoxStyle(w.hwnd) == ~0u) continue;  // not a box, or not showing yet
                if (out) *out = w;
                return true;
            }
            return false;
        },
        timeout_ms);
}

std::string ProgramDriver::MessageBoxText(Hwnd box) {
    Child text;
    return GetChild(box, 0xFFFF, &text) ? text.text : std::string();
}

bool ProgramDriver::PressMessageBoxButton(Hwnd box, long long button) {
    Hwnd b = ChildId(box, button);
    if (!b) {
        ADD_FAILURE() << "the message box has no button " << button;
        return false;
    }
    const std::string status = Click(b);
    if (status != "ok") {
        ADD_FAILURE() << "the message box's button " << button << " refused the click: " << status;
        return false;
    }
    return WaitForGone(box);
}

bool ProgramDriver::WaitForLineCount(Hwnd list, size_t n, int timeout_ms) {
    return WaitUntil([&] { return ReadList(list).size() >= n; }, timeout_ms);
}

bool ProgramDriver::WaitForMenu(Menu *out, int timeout_ms) {
    return WaitUntil([&] { return OpenMenu(out); }, timeout_ms);
}

ProgramDriver::Window ProgramDriver::MainWindow() {
    Window w;
    if (!WaitForWindow("#32770", "Quorvane", &w)) ADD_FAILURE() << "no main window";
    return w;
}
