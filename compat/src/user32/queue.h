// Message queues: one per thread, made on the thread's first window or
// message call and kept in its ThreadRecord.
//
// A queue holds posted messages (PostMessageA, WM_QUIT) and messages sent
// from other threads. A cross-thread SendMessageA puts a SentMessage that
// lives in the sender's own frame into the receiver's queue and waits; the
// receiver carries it out whenever it takes messages (GetMessageA,
// PeekMessageA, MsgWaitForMultipleObjects, its own waiting SendMessageA and
// every modal loop) and hands back the result. A sender that is stopped
// while its message is still queued withdraws it; one whose message is
// already running waits, without taking messages, until the receiver has
// finished with it, since lParam may point into the sender's frame.
//
// When a thread ends its windows are destroyed, its queue is closed and the
// senders still waiting on it are released with 0.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "core/thread_record.h"
#include "user32/window.h"

namespace compat {

struct SentMessage {
    enum State { Queued, Running, Done };

    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wp = 0;
    LPARAM lp = 0;
    LRESULT result = 0;
    std::atomic<int> state{Queued};
    // The waiting sender; null for a message that nobody waits for
    // (SendNotifyMessageA), which the queue allocates and frees.
    std::shared_ptr<ThreadRecord> sender;
    SentMessage *prev = nullptr;
    SentMessage *next = nullptr;
};

struct MessageQueue {
    explicit MessageQueue(ThreadRecord &t) : owner(t) {}

    ThreadRecord &owner;
    std::mutex mutex;
    // Guarded by mutex.
    std::deque<MSG> posted;
    SentMessage *sent_head = nullptr;
    SentMessage *sent_tail = nullptr;
    bool quit = false;
    int quit_code = 0;
    bool closed = false;
    UINT arrived = 0;  // QS_ bits of what arrived since GetQueueStatus last looked

    // The owner thread only: whether its next wait for a message spins
    // before it sleeps (see idle_wait in messages.cpp).
    bool spin_idle = true;

    // Lock-free hints for the wait predicates; exact values under mutex.
    std::atomic<int> sent_count{0};
    std::atomic<int> posted_count{0};  // posted.size(), plus 1 while quit is set
};

// The calling thread's queue, made on first use.
MessageQueue &current_queue();
// The calling thread's queue, or null when it has none yet.
MessageQueue *current_queue_if_any();

// SendMessageA to a window in hand: a direct call on the window's own
// thread, a queued call that waits for its result from any other thread.
LRESULT send_message(const std::shared_ptr<Window> &w, UINT msg, WPARAM wp, LPARAM lp);

// Queues a call to the window's procedure on its thread without waiting
// (SendNotifyMessageA); a direct call on the window's own thread. Never
// waits, so it is safe where a thread unwinds. False when the window's
// thread has ended.
bool send_notify(const std::shared_ptr<Window> &w, UINT msg, WPARAM wp, LPARAM lp);

// Carries out the messages other threads have sent to the calling thread.
// Returns how many ran.
int run_sent_messages(MessageQueue &q);

// Whether a key is down on the calling thread (GetKeyState's answer): the
// key messages the thread has taken from its queue say so, WM_KEYDOWN(vk)
// setting it and WM_KEYUP(vk) clearing it. Controls read the Shift and Ctrl
// keys this way, as the display back ends wrap a keystroke in theirs.
bool key_down(WPARAM vk);

// Takes the next posted message that matches the filter (hwnd: null for
// any, (HWND)-1 for thread messages only; lo = hi = 0 for every message),
// carrying out sent messages first. WM_QUIT comes only when no other posted
// message matches.
//   wait false: returns at once (PeekMessageA).
//   wait true: waits for a message; with return_after_sent it also returns
//   (Got::Nothing) after it has carried out sent messages, so a modal loop
//   can look at its own state again.
enum class Got { Message, Quit, Nothing };
Got take_message(MSG *out, HWND hwnd, UINT lo, UINT hi, bool remove, bool wait,
                 bool return_after_sent);

// The loop of a modal window on the calling thread: takes and dispatches
// messages until done() holds. When WM_QUIT arrives it posts it again for
// the enclosing loop and returns false.
template <class Done>
bool run_modal_loop(Done done) {
    while (!done()) {
        MSG m;
        Got got = take_message(&m, nullptr, 0, 0, true, true, true);
        if (got == Got::Quit) {
            PostQuitMessage(static_cast<int>(m.wParam));
            return false;
        }
        if (got == Got::Message) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
    return true;
}

}  // namespace compat
