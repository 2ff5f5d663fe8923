#include "display/terminal/tty.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/thread_record.h"

namespace compat {
namespace terminal {

namespace {

// Mouse button reports (press and release) in the SGR form, and bracketed
// paste; off again in the reverse order.
const char kModesOn[] = "\x1b[?1000h\x1b[?1006h\x1b[?2004h";
const char kModesOff[] = "\x1b[?2004l\x1b[?1006l\x1b[?1000l";

SCREEN *screen = nullptr;
termios saved_modes;
std::atomic<bool> active{false};
// What a signal handler writes to put the terminal back: prepared while
// opening, since a handler may not build strings.
char restore_bytes[512];
size_t restore_length = 0;

std::atomic<ThreadRecord *> resize_waker{nullptr};
std::atomic<bool> resized{false};  // lock-free, so a signal handler may set it

const int kEndingSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT,
                              SIGTERM, SIGHUP, SIGINT, SIGQUIT};
struct sigaction previous_actions[NSIG];
struct sigaction previous_winch;

void write_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// Async-signal-safe: writes and tcsetattr only.
void restore_now() {
    if (!active.exchange(false)) return;
    write_all(STDOUT_FILENO, restore_bytes, restore_length);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
}

bool is_fault(int sig) { return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL; }

// The terminal first; then whatever handled the signal before (the
// default ends the program). A fault the processor raised returns and
// happens again under that handler; a signal sent by someone is raised
// again, and delivered once this handler returns.
void on_ending_signal(int sig, siginfo_t *info, void *) {
    const int saved_errno = errno;
    restore_now();
    sigaction(sig, &previous_actions[sig], nullptr);
    if (!is_fault(sig) || !info || info->si_code <= 0) raise(sig);
    errno = saved_errno;
}

void on_winch(int) {
    const int saved_errno = errno;
    resized = true;
    if (ThreadRecord *t = resize_waker.load()) notify(*t);
    errno = saved_errno;
}

void install_handlers() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_ending_signal;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    for (int sig : kEndingSignals) sigaction(sig, &sa, &previous_actions[sig]);
    struct sigaction winch;
    memset(&winch, 0, sizeof winch);
    winch.sa_handler = on_winch;
    winch.sa_flags = SA_RESTART;
    sigemptyset(&winch.sa_mask);
    sigaction(SIGWINCH, &winch, &previous_winch);
}

void remove_handlers() {
    for (int sig : kEndingSignals) sigaction(sig, &previous_actions[sig], nullptr);
    sigaction(SIGWINCH, &previous_winch, nullptr);
}

void add_restore(const char *s) {
    if (!s || s == reinterpret_cast<const char *>(-1)) return;
    const size_t n = strlen(s);
    if (restore_length + n >= sizeof restore_bytes) return;
    memcpy(restore_bytes + restore_length, s, n);
    restore_length += n;
}

// The terminal's own strings for the end: attributes off, the cursor
// shown, the normal screen back.
void prepare_restore() {
    restore_length = 0;
    add_restore(kModesOff);
    add_restore(tigetstr(const_cast<char *>("sgr0")));
    add_restore(tigetstr(const_cast<char *>("cnorm")));
    add_restore(tigetstr(const_cast<char *>("rmcup")));
}

// Characters are UTF-8 on the terminal; a locale whose character type is
// something else (an unset LANG over SSH) gives way to C.UTF-8.
bool utf8_locale() {
    if (setlocale(LC_CTYPE, "") && strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return true;
    return setlocale(LC_CTYPE, "C.UTF-8") && strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

bool check_terminal(const char *term, std::string *error) {
    int status = 0;
    if (setupterm(term, STDOUT_FILENO, &status) != OK) {
        *error = status == -1 ? "no terminal: the terminal database cannot be found"
                              : std::string("no terminal: TERM=") + term +
                                    " is a terminal type this system does not know";
        return false;
    }
    const char *cup = tigetstr(const_cast<char *>("cup"));
    const bool addressable = cup && cup != reinterpret_cast<const char *>(-1);
    del_curterm(cur_term);
    if (!addressable) {
        *error = std::string("no terminal: TERM=") + term + " cannot place the cursor";
        return false;
    }
    return true;
}

unsigned curses_attr(unsigned a) {
    unsigned out = A_NORMAL;
    if (a & kReverse) out |= A_REVERSE;
    if (a & kBold) out |= A_BOLD;
    if (a & kDim) out |= A_DIM;
    if (a & kUnderline) out |= A_UNDERLINE;
    return out;
}

}  // namespace

bool open_tty(std::string *error) {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        *error = "no terminal: standard input and output must be a terminal "
                 "(a test driver sets QV_DISPLAY=automation:fd=N)";
        return false;
    }
    const char *term = getenv("TERM");
    if (!term || !*term) {
        *error = "no terminal: TERM is not set";
        return false;
    }
    if (!utf8_locale()) {
        *error = "no terminal: no UTF-8 character type (locale) is available";
        return false;
    }
    if (!check_terminal(term, error)) return false;
    if (tcgetattr(STDIN_FILENO, &saved_modes) != 0) {
        *error = std::string("no terminal: ") + strerror(errno);
        return false;
    }
    // Ours come first, so ncurses installs none of its own (it would end
    // the program on SIGINT and SIGTERM with exit code 1).
    install_handlers();
    screen = newterm(term, stdout, stdin);
    if (!screen) {
        remove_handlers();
        *error = std::string("no terminal: TERM=") + term + " cannot be started";
        return false;
    }
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    curs_set(0);
    prepare_restore();
    active = true;
    static const bool at_exit = atexit(restore_now) == 0;
    (void)at_exit;
    refresh();
    write_all(STDOUT_FILENO, kModesOn, sizeof kModesOn - 1);
    return true;
}

void close_tty() {
    if (!screen) return;
    if (active.exchange(false)) {
        write_all(STDOUT_FILENO, kModesOff, sizeof kModesOff - 1);
        curs_set(1);
        endwin();
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
    }
    remove_handlers();
    resize_waker = nullptr;
    delscreen(screen);
    screen = nullptr;
}

void tty_size(int *rows, int *cols) {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
        *rows = ws.ws_row;
        *cols = ws.ws_col;
        return;
    }
    getmaxyx(stdscr, *rows, *cols);
}

void tty_resize(int rows, int cols) { resizeterm(rows, cols); }

void tty_present(const Canvas &canvas, bool cursor, int row, int col, bool redraw_all) {
    if (redraw_all) clearok(curscr, TRUE);
    const int rows = std::min(canvas.rows(), LINES), cols = std::min(canvas.cols(), COLS);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const Cell &cell = canvas.at(r, c);
            if (cell.right_half) continue;
            wchar_t text[2] = {cell.ch, 0};
            cchar_t cc;
            setcchar(&cc, text, curses_attr(cell.attr), 0, nullptr);
            mvadd_wch(r, c, &cc);
        }
    }
    if (cursor) move(row, col);
    curs_set(cursor ? 1 : 0);
    refresh();
}

void tty_write(const std::string &bytes) {
    fflush(stdout);
    write_all(STDOUT_FILENO, bytes.data(), bytes.size());
}

void tty_wake_on_resize(ThreadRecord *thread) { resize_waker = thread; }

bool tty_resize_pending() { return resized.load(); }

void tty_lost() {
    close_tty();
    static const char kSay[] = "quorvane: the terminal closed\n";
    write_all(STDERR_FILENO, kSay, sizeof kSay - 1);
    _exit(2);
}

bool tty_take_resize() {
    return resized.exchange(false);
}

}  // namespace terminal
}  // namespace compat
