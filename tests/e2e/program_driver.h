// Drives the real quorvane program as a user would, over the automation
// protocol (compat/src/display/automation/PROTOCOL.md) and nothing else, so
// the same scenarios can run against a Windows driver later.
//
// A ProgramDriver makes a fresh working directory holding a qqwry.dat
// fixture, starts a fake blacklist service, starts the program in that
// directory with the channel on descriptor 3, and routes the program's
// service address (port 80) to the fake service:
//
//     ProgramDriver program;
//     ProgramDriver::Window main = program.MainWindow();
//     program.SetText(program.ChildId(main.hwnd, 1002), "1.2.3.4");
//     program.Click(program.ChildId(main.hwnd, 1001));
//     ...
//     EXPECT_EQ(program.EndAndWait(), 1);
//
// Every wait is bounded (kTimeoutMs unless given) and reports failure
// rather than hanging; waits follow the program's window change count or
// its input-idle state, never a sleep. A program still running when the
// driver goes is killed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_service.h"
#include "qqwry_builder.h"

class ProgramDriver {
public:
    using Hwnd = uint64_t;
    static constexpr int kTimeoutMs = 60000;

    struct Window {
        Hwnd hwnd = 0;
        std::string class_name;
        Hwnd owner = 0;
        unsigned long thread = 0;
        bool enabled = false;
        bool visible = false;
        std::string title;
    };
    struct Child {
        Hwnd hwnd = 0;
        long long id = 0;
        std::string class_name;
        bool enabled = false;
        bool visible = false;
        std::string text;
    };
    struct Line {
        bool selected = false;
        std::string text;
    };
    struct MenuItem {
        long long id = 0;
        std::string text;
    };
    struct Menu {
        long long x = 0, y = 0;
        std::vector<MenuItem> items;
    };
    struct Clipboard {
        bool present = false;
        std::string text;
    };
    struct Counts {
        long long blocks = 0, windows = 0, threads = 0, handles = 0, sockets = 0;
    };

    // The location ranges of the fixture database, and the texts its
    // lookups give (GBK).
    static void WriteFixtureDatabase();
    // The area of 198.51.100.0/24: long enough that 198.51.100.7's line
    // takes the whole 99 bytes a result line may have.
    static constexpr const char *kLongArea = "昆士兰州布里斯班市南岸区格雷街一号会展中心东楼B座2层3号机房";

    // Starts the program (another one built on the layer's start-up, if
    // given). with_database false leaves qqwry.dat out.
    explicit ProgramDriver(bool with_database = true, const std::string &program = QV_PROGRAM);
    ~ProgramDriver();
    ProgramDriver(const ProgramDriver &) = delete;
    ProgramDriver &operator=(const ProgramDriver &) = delete;

    FakeService &service() { return *service_; }
    const std::string &dir() const { return dir_->path(); }

    // One request: the reply's first line (without "ok"/"error") goes to
    // *status ("ok", or the error reason), its fields to *fields, and the
    // record lines to *records. False when the program does not answer.
    bool Request(const std::string &line, std::string *status, std::vector<std::string> *fields,
                 std::vector<std::string> *records = nullptr, int timeout_ms = kTimeoutMs);

    // ---- reading ----
    std::vector<Window> Windows();
    // A top-level window showing with this class and title.
    bool FindWindow(const std::string &class_name, const std::string &title, Window *out);
    bool GetWindow(Hwnd hwnd, Window *out);  // false when it is gone
    std::vector<Child> Children(Hwnd parent);
    Hwnd ChildId(Hwnd parent, long long id);  // 0 when there is none
    bool GetChild(Hwnd parent, long long id, Child *out);
    std::string Text(Hwnd hwnd);
    std::vector<Line> ReadList(Hwnd list);
    std::vector<std::string> ListTexts(Hwnd list);
    // The uType of a showing message box; ~0u for any other window.
    unsigned MessageBoxStyle(Hwnd box);
    bool OpenMenu(Menu *out);  // false when no popup menu is open
    Clipboard ReadClipboard();
    // Keeps the clipboard open elsewhere (true) until released (false), so
    // the program cannot open it meanwhile.
    std::string HoldClipboard(bool hold);
    Counts LiveCounts();

    // ---- input: "ok", or the reason the program gave for refusing it ----
    std::string Type(Hwnd hwnd, const std::string &text);
    std::string Key(Hwnd hwnd, const std::string &name);
    std::string SetText(Hwnd hwnd, const std::string &text);
    std::string Click(Hwnd button);
    std::string RightClick(Hwnd hwnd, int x, int y);
    std::string Select(Hwnd list, int index, bool selected);
    std::string Choose(long long id);
    std::string CancelMenu();
    std::string CloseBox(Hwnd hwnd);

    // ---- waiting ----
    // Tests cond again after every window change until it holds; false
    // after timeout_ms.
    bool WaitUntil(const std::function<bool()> &cond, int timeout_ms = kTimeoutMs);
    // Waits until the thread that owns hwnd has carried out everything
    // handed to it and waits for input.
    bool Idle(Hwnd hwnd, int timeout_ms = kTimeoutMs);
    bool WaitForWindow(const std::string &class_name, const std::string &title, Window *out,
                       int timeout_ms = kTimeoutMs);
    bool WaitForGone(Hwnd hwnd, int timeout_ms = kTimeoutMs);
    // A message box (class "#32770" with the message text child) showing
    // with this caption; its owner must be `owner` (0: none).
    bool WaitForMessageBox(const std::string &caption, Window *out, int timeout_ms = kTimeoutMs);
    std::string MessageBoxText(Hwnd box);
    // Presses the box's button (IDOK...) and waits until the box is gone.
    bool PressMessageBoxButton(Hwnd box, long long button);
    bool WaitForLineCount(Hwnd list, size_t n, int timeout_ms = kTimeoutMs);
    bool WaitForMenu(Menu *out, int timeout_ms = kTimeoutMs);

    // The program's connections to its service address (port 80) go to
    // the fake service, or fail as refused ones do.
    bool RouteServiceToFake();
    bool RefuseServiceConnections();

    // ---- the program ----
    // The main window, once it shows.
    Window MainWindow();
    // Waits for the program to end; its exit code, or -1 when it did not
    // end in time (it is then killed) or ended by a signal.
    int WaitForExit(int timeout_ms = kTimeoutMs);
    bool running() const { return pid_ > 0; }
    // Sends bytes to the program as they are, with no reply awaited.
    bool SendRaw(const std::string &bytes);
    // Closes the driver's end of the channel, as a driver that goes away.
    void CloseChannel();

private:
    bool ReadLine(std::string *line, int timeout_ms);
    std::string Input(const std::string &line);
    void Kill();

    std::unique_ptr<TempWorkDir> dir_;
    std::unique_ptr<FakeService> service_;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int channel_ = -1;
    std::string buffered_;
};

// The wire form of a text (PROTOCOL.md), and back; the harness's own
// codec, apart from the program's.
std::string WireText(const std::string &bytes);
bool FromWireText(const std::string &wire, std::string *bytes);
