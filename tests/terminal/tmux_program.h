// Runs the real program in the terminal display, inside a detached tmux
// session of a fixed size, and uses it as a person at that terminal would:
// keys and text through send-keys, pastes through paste-buffer, mouse
// reports as the bytes a terminal sends, and the screen as capture-pane
// shows it.
//
// Each TmuxProgram has its own tmux server (a socket in its own temporary
// working directory, which holds a qqwry.dat fixture), its own fake
// blacklist service, and starts the program there with QV_ROUTES sending
// the service address to that service. The program's standard error goes
// to a file, so sanitizer reports are seen. Waits follow the pane's output
// (through pipe-pane) and end at a generous deadline; none sleeps.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_service.h"
#include "qqwry_builder.h"

class TmuxProgram {
public:
    static constexpr int kTimeoutMs = 60000;

    struct Options {
        int cols = 80, rows = 24;
        bool refuse_service = false;  // connections to the service fail as refused
    };

    explicit TmuxProgram(const Options &options);
    TmuxProgram() : TmuxProgram(Options()) {}
    ~TmuxProgram();
    TmuxProgram(const TmuxProgram &) = delete;
    TmuxProgram &operator=(const TmuxProgram &) = delete;

    FakeService &service() { return *service_; }
    const std::string &dir() const { return dir_->path(); }
    bool started() const { return started_; }

    // ---- the screen ----
    std::vector<std::string> Screen();  // one UTF-8 string per row
    std::string ScreenText();           // the rows joined with '\n'
    // Waits until cond holds for the screen, drawn whole (the pane has
    // written nothing for a moment since); false (and the last screen in
    // the failure) after the deadline. Screen() itself takes what shows.
    bool WaitForScreen(const std::function<bool(const std::vector<std::string> &)> &cond,
                       const std::string &what, int timeout_ms = kTimeoutMs);
    bool WaitForText(const std::string &utf8, int timeout_ms = kTimeoutMs);
    bool WaitForNoText(const std::string &utf8, int timeout_ms = kTimeoutMs);
    // The row and column (cells, 0-based) where text first shows, once it
    // does; false if it never does.
    bool Find(const std::string &utf8, int *row, int *col);

    // ---- input ----
    void Keys(const std::vector<std::string> &tmux_keys);  // send-keys names: Tab, BTab, Enter...
    void Type(const std::string &utf8);                     // send-keys -l
    void Paste(const std::string &utf8);                    // bracketed, as a terminal pastes
    void Click(int row, int col, unsigned modifiers = 0, int button = 0);  // SGR report, press and release
    void Wheel(int row, int col, bool up);
    void Resize(int cols, int rows);

    // ---- the terminal and the program ----
    std::string Format(const std::string &tmux_format);  // display-message -p
    std::string LastBuffer();                            // show-buffer
    int Pid();  // the program's process
    // Waits for the program to end; its exit status, 128 + n for a signal,
    // -1 when it did not end in time. The terminal stays as the program
    // left it.
    int WaitForExit(int timeout_ms = kTimeoutMs);
    std::string StandardError();

    // Cells a UTF-8 text takes on the terminal.
    static int Cells(const std::string &utf8);

private:
    std::vector<std::string> Tmux(const std::vector<std::string> &args, bool *ok = nullptr);
    bool WaitForOutput(int timeout_ms);
    void SendBytes(const std::string &bytes);

    std::unique_ptr<TempWorkDir> dir_;
    std::unique_ptr<FakeService> service_;
    std::string socket_;
    std::string fifo_;
    int output_ = -1;  // the read end of the pane's output
    bool started_ = false;
    bool ended_ = false;
};
