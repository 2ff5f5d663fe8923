// The stand-in for the user in tests: it watches for message boxes, reads
// what they say, and presses their buttons.
//
// One box at a time, from the test's own thread:
//     MessageBoxSeen box;
//     ASSERT_TRUE(WaitForMessageBox(&box));      // some thread shows a box
//     EXPECT_EQ(box.caption, "警告");
//     ASSERT_TRUE(PressMessageBoxButton(box.box)); // OK, and the box is gone
//
// In the background, for code that may show any number of boxes:
//     AutoDismisser user;                          // presses OK on each box
//     ... run the worker ...
//     ASSERT_TRUE(user.WaitForCount(2));
//     EXPECT_EQ(user.Seen()[1].text, "...");
// AutoDismisser(AutoDismisser::Holding) records boxes but leaves them
// showing until Allow(), so a test can look at the state while a box is up.
//
// Every wait ends after a generous time-out (kUserTimeoutMs unless given)
// and then reports failure instead of hanging the test. Nothing here
// sleeps: the waits follow the layer's window change count.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

constexpr int kUserTimeoutMs = 30000;

// What the user saw of one message box.
struct MessageBoxSeen {
    HWND box = nullptr;     // gone once the box has been dismissed
    HWND owner = nullptr;   // the window the box belongs to, or null
    std::string text;       // the message, GBK bytes as given to MessageBoxA
    std::string caption;
    UINT style = 0;         // the uType given to MessageBoxA
    DWORD thread_id = 0;    // the thread that shows the box
};

// Waits until a message box is showing and describes it; with several, the
// one shown first. A box stays "showing" until pressed, so two calls
// without a press in between describe the same box. False on time-out.
bool WaitForMessageBox(MessageBoxSeen *seen, int timeout_ms = kUserTimeoutMs);

// Presses the button (IDOK, IDCANCEL, IDYES, ...) of a showing box and
// waits until the box is gone. False when the box did not go in time.
bool PressMessageBoxButton(HWND box, int button = IDOK, int timeout_ms = kUserTimeoutMs);

// Both of the above: waits for a box, describes it into *seen (may be
// null) and presses OK.
bool DismissMessageBox(MessageBoxSeen *seen = nullptr, int timeout_ms = kUserTimeoutMs);

// Watches on a thread of its own, records every message box once, and
// presses OK on it (at once, or from Allow() on).
class AutoDismisser {
public:
    enum Mode { Pressing, Holding };

    explicit AutoDismisser(Mode mode = Pressing);
    // Stops watching. Boxes still showing stay as they are.
    ~AutoDismisser();
    AutoDismisser(const AutoDismisser &) = delete;
    AutoDismisser &operator=(const AutoDismisser &) = delete;

    // Holding: from now on press OK, on the boxes seen so far too.
    void Allow();

    // Waits until at least n boxes have been seen. False on time-out.
    bool WaitForCount(size_t n, int timeout_ms = kUserTimeoutMs);

    size_t Count() const;
    std::vector<MessageBoxSeen> Seen() const;  // in the order they appeared

private:
    void Watch();

    mutable std::mutex mutex_;
    std::condition_variable seen_changed_;
    std::vector<MessageBoxSeen> seen_;
    std::set<HWND> pressed_;
    bool allowed_;
    bool stopping_ = false;
    std::thread watcher_;
};
