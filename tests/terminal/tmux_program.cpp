#include "tmux_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <sstream>

extern char **environ;

namespace {

constexpr int kOutputWaitMs = 100;  // the longest one look at the pane waits for its output
// A screen counts as drawn once the pane has written nothing for this long
// after it was captured: tmux may take a frame in several reads, and a
// capture between them shows half of it.
constexpr int kQuietMs = 40;
constexpr int kTmuxCommandMs = 20000;
const char kEndedMark[] = "quorvane-ended ";

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Quote(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// Cells of a UTF-8 text, as the terminal lays it out.
int CellsOf(const std::string &utf8) {
    std::mbstate_t state{};
    int cells = 0;
    const char *p = utf8.data();
    const char *end = p + utf8.size();
    while (p < end) {
        wchar_t wc;
        const size_t n = std::mbrtowc(&wc, p, static_cast<size_t>(end - p), &state);
        if (n == 0 || n > static_cast<size_t>(end - p)) {
            ++p;
            ++cells;
            state = std::mbstate_t{};
            continue;
        }
        const int w = wcwidth(wc);
        cells += w > 0 ? w : 1;
        p += n;
    }
    return cells;
}

std::string Hex(const std::string &bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char h[4];
        snprintf(h, sizeof h, "%02x", c);
        if (!out.empty()) out += ' ';
        out += h;
    }
    return out;
}

}  // namespace

TmuxProgram::TmuxProgram(const Options &options) {
    // The tests' own reading of the screen's UTF-8.
    setlocale(LC_CTYPE, "C.UTF-8");
    dir_ = std::make_unique<TempWorkDir>();
    QqwryBuilder db;
    db.Add(Ip(1, 2, 3, 0), Ip(1, 2, 3, 255), "中国", "北京");
    db.Add(Ip(10, 0, 0, 0), Ip(10, 0, 255, 255), "局域网", "对方和您在同一内部网");
    db.Add(Ip(192, 0, 2, 0), Ip(192, 0, 2, 255), "美国", "", CountryForm::Mode2, AreaForm::Unknown);
    db.Write();
    service_ = std::make_unique<FakeService>();
    socket_ = dir() + "/tmux.sock";
    fifo_ = dir() + "/pane-output";
    if (mkfifo(fifo_.c_str(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo: " << strerror(errno);
        return;
    }
    output_ = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    const std::string route = std::string(QV_SERVICE_ADDRESS) + ":80=127.0.0.1:" +
                              (options.refuse_service ? "0" : std::to_string(service_->port()));
    // A shell runs the program and stays, so the terminal as the program
    // left it can be looked at: it says how the program ended and waits.
    const std::string command = "cd " + Quote(dir()) + " && env TERM=tmux-256color QV_ROUTES=" +
                                Quote(route) + " " + Quote(QV_PROGRAM) + " 2>" +
                                Quote(dir() + "/stderr.txt") + "; echo \"" + kEndedMark +
                                "$?\"; exec cat >/dev/null";
    bool ok = false;
    Tmux({"new-session", "-d", "-x", std::to_string(options.cols), "-y",
          std::to_string(options.rows), "-s", "qv", command, ";", "set-option", "-s",
          "set-clipboard", "on", ";", "pipe-pane", "-t", "qv", "cat > " + Quote(fifo_)},
         &ok);
    if (!ok) {
        ADD_FAILURE() << "tmux cannot start the program";
        return;
    }
    started_ = true;
}

TmuxProgram::~TmuxProgram() {
    if (started_ && !ended_) {
        ADD_FAILURE() << "the program was still running when the test ended; its screen:\n"
                      << ScreenText();
    }
    if (started_) Tmux({"kill-server"});
    if (output_ >= 0) close(output_);
    service_.reset();
    dir_.reset();
}

std::vector<std::string> TmuxProgram::Tmux(const std::vector<std::string> &args, bool *ok) {
    if (ok) *ok = false;
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "TMUX=", 5) != 0 && strncmp(*e, "LC_ALL=", 7) != 0) env.push_back(*e);
    env.push_back("LC_ALL=C.UTF-8");
    std::vector<char *> envp;
    for (std::string &s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_storage = {"tmux", "-u", "-S", socket_, "-f", "/dev/null"};
    argv_storage.insert(argv_storage.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : argv_storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid;
    const int rc = posix_spawnp(&pid, "tmux", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        ADD_FAILURE() << "cannot run tmux: " << strerror(rc);
        return {};
    }
    std::string text;
    const int64_t deadline = NowMs() + kTmuxCommandMs;
    for (;;) {
        const int64_t left = deadline - NowMs();
        pollfd p{out[0], POLLIN, 0};
        const int r = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            ADD_FAILURE() << "tmux " << args[0] << " did not finish";
            kill(pid, SIGKILL);
            break;
        }
        char buffer[8192];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (ok) *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return Lines(text);
}

// Returns when the pane has written something (true), or after timeout_ms.
bool TmuxProgram::WaitForOutput(int timeout_ms) {
    if (output_ < 0) {
        poll(nullptr, 0, timeout_ms);
        return false;
    }
    pollfd p{output_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[65536];
    while (read(output_, buffer, sizeof buffer) > 0) {
    }
    if (p.revents & POLLHUP) {
        // The pane's writer has gone (the program ended): from here on only
        // the deadline paces the looks.
        close(output_);
        output_ = -1;
    }
    return true;
}

std::vector<std::string> TmuxProgram::Screen() { return Tmux({"capture-pane", "-p", "-t", "qv"}); }

std::string TmuxProgram::ScreenText() {
    std::string out;
    for (const std::string &l : Screen()) out += l + "\n";
    return out;
}

bool TmuxProgram::WaitForScreen(const std::function<bool(const std::vector<std::string> &)> &cond,
                                const std::string &what, int timeout_ms) {
    const int64_t deadline = NowMs() + timeout_ms;
    std::vector<std::string> screen;
    for (;;) {
        screen = Screen();
        if (cond(screen) && !WaitForOutput(kQuietMs)) return true;
        const int64_t left = deadline - NowMs();
        if (left <= 0) break;
        WaitForOutput(static_cast<int>(std::min<int64_t>(left, kOutputWaitMs)));
    }
    std::string shown;
    for (const std::string &l : screen) shown += l + "\n";
    ADD_FAILURE() << "the screen never showed " << what << "; it shows:\n" << shown;
    return false;
}

static bool Shows(const std::vector<std::string> &screen, const std::string &text) {
    for (const std::string &l : screen)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

bool TmuxProgram::WaitForText(const std::string &utf8, int timeout_ms) {
    return WaitForScreen([&](const std::vector<std::string> &s) { return Shows(s, utf8); },
                         "\"" + utf8 + "\"", timeout_ms);
}

bool TmuxProgram::WaitForNoText(const std::string &utf8, int timeout_ms) {
    return WaitForScreen([&](const std::vector<std::string> &s) { return !Shows(s, utf8); },
                         "no more \"" + utf8 + "\"", timeout_ms);
}

bool TmuxProgram::Find(const std::string &utf8, int *row, int *col) {
    if (!WaitForText(utf8)) return false;
    const std::vector<std::string> screen = Screen();
    for (size_t r = 0; r < screen.size(); ++r) {
        const size_t at = screen[r].find(utf8);
        if (at == std::string::npos) continue;
        *row = static_cast<int>(r);
        *col = CellsOf(screen[r].substr(0, at));
        return true;
    }
    return false;
}

void TmuxProgram::Keys(const std::vector<std::string> &keys) {
    std::vector<std::string> args = {"send-keys", "-t", "qv"};
    args.insert(args.end(), keys.begin(), keys.end());
    Tmux(args);
}

void TmuxProgram::Type(const std::string &utf8) { Tmux({"send-keys", "-t", "qv", "-l", utf8}); }

void TmuxProgram::SendBytes(const std::string &bytes) {
    std::vector<std::string> args = {"send-keys", "-t", "qv", "-H"};
    std::istringstream hex(Hex(bytes));
    std::string h;
    while (hex >> h) args.push_back(h);
    Tmux(args);
}

// -r: the text goes as it is, LF included; -p: in the bracketed paste
// markers, since the program asked for them.
void TmuxProgram::Paste(const std::string &utf8) {
    Tmux({"set-buffer", "-b", "qv-paste", "--", utf8});
    Tmux({"paste-buffer", "-p", "-r", "-d", "-b", "qv-paste", "-t", "qv"});
}

void TmuxProgram::Click(int row, int col, unsigned modifiers, int button) {
    const int code = button + static_cast<int>(modifiers);
    const std::string at = std::to_string(code) + ";" + std::to_string(col + 1) + ";" +
                           std::to_string(row + 1);
    SendBytes("\x1b[<" + at + "M" + "\x1b[<" + at + "m");
}

void TmuxProgram::Wheel(int row, int col, bool up) {
    SendBytes("\x1b[<" + std::to_string(up ? 64 : 65) + ";" + std::to_string(col + 1) + ";" +
              std::to_string(row + 1) + "M");
}

void TmuxProgram::Resize(int cols, int rows) {
    Tmux({"resize-window", "-t", "qv", "-x", std::to_string(cols), "-y", std::to_string(rows)});
}

std::string TmuxProgram::Format(const std::string &format) {
    std::vector<std::string> out = Tmux({"display-message", "-p", "-t", "qv", format});
    return out.empty() ? "" : out[0];
}

std::string TmuxProgram::LastBuffer() {
    std::vector<std::string> lines = Tmux({"show-buffer"});
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

// The program is the child of the pane's shell.
int TmuxProgram::Pid() {
    const int shell = atoi(Format("#{pane_pid}").c_str());
    DIR *proc = opendir("/proc");
    if (!proc) return -1;
    int found = -1;
    while (dirent *e = readdir(proc)) {
        const int pid = atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t paren = line.rfind(')');
        if (paren == std::string::npos) continue;
        char state;
        int parent = 0;
        if (sscanf(line.c_str() + paren + 1, " %c %d", &state, &parent) == 2 && parent == shell)
            found = pid;
    }
    closedir(proc);
    return found;
}

int TmuxProgram::WaitForExit(int timeout_ms) {
    int code = -1;
    const bool ended = WaitForScreen(
        [&](const std::vector<std::string> &screen) {
            for (const std::string &row : screen)
                if (row.compare(0, strlen(kEndedMark), kEndedMark) == 0) {
                    code = atoi(row.c_str() + strlen(kEndedMark));
                    return true;
                }
            return false;
        },
        "the program's end", timeout_ms);
    ended_ = ended;
    return ended ? code : -1;
}

std::string TmuxProgram::StandardError() {
    std::ifstream in(dir() + "/stderr.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int TmuxProgram::Cells(const std::string &utf8) { return CellsOf(utf8); }
