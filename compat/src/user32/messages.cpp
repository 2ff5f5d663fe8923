// user32 messages: the per-thread queues, sent and posted messages, and the
// calls that take them.
#include "user32/queue.h"

#include <time.h>

#include <cstring>

#include "core/exit_hooks.h"
#include "core/thread_record.h"

namespace compat {

namespace {

constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInvalidThreadId = 1444;

DWORD tick_ms() { return static_cast<DWORD>(monotonic_ms()); }

void delete_queue(MessageQueue *q) {
    // Only notifications that nobody waits for can be left by now.
    for (SentMessage *m = q->sent_head; m;) {
        SentMessage *next = m->next;
        if (!m->sender) delete m;
        m = next;
    }
    delete q;
}

void link(MessageQueue &q, SentMessage *m) {
    m->prev = q.sent_tail;
    m->next = nullptr;
    if (q.sent_tail)
        q.sent_tail->next = m;
    else
        q.sent_head = m;
    q.sent_tail = m;
    q.sent_count.fetch_add(1, std::memory_order_release);
    q.arrived |= QS_SENDMESSAGE;
}

void unlink(MessageQueue &q, SentMessage *m) {
    if (m->prev)
        m->prev->next = m->next;
    else
        q.sent_head = m->next;
    if (m->next)
        m->next->prev = m->prev;
    else
        q.sent_tail = m->prev;
    m->prev = m->next = nullptr;
    q.sent_count.fetch_sub(1, std::memory_order_release);
}

// Hands a finished message back. After the store the sender may return
// and its frame, which holds m, be gone: nothing touches m afterwards.
void finish(SentMessage *m, LRESULT result) {
    if (!m->sender) {
        delete m;
        return;
    }
    std::shared_ptr<ThreadRecord> sender = std::move(m->sender);
    m->result = result;
    m->state.store(SentMessage::Done, std::memory_order_release);
    notify(*sender);
}

void close_queue(MessageQueue &q) {
    std::vector<SentMessage *> waiting;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.closed) return;
        q.closed = true;
        while (SentMessage *m = q.sent_head) {
            unlink(q, m);
            waiting.push_back(m);
        }
        q.posted.clear();
        q.quit = false;
        q.posted_count.store(0, std::memory_order_release);
    }
    for (SentMessage *m : waiting) finish(m, 0);
}

// The end of a thread: its windows go first, on the thread itself, then
// its queue closes and whoever still waits on it is released.
void end_thread_messages(ThreadRecord &t) {
    destroy_thread_windows(t.id);
    if (t.queue) close_queue(*t.queue);
}

// Threads the layer did not create (the main thread, std::threads of a
// test) end without the layer's trampoline; a thread-local object ends
// their windows and queue instead.
struct ForeignThreadEnd {
    std::shared_ptr<ThreadRecord> record;
    ~ForeignThreadEnd() {
        if (record) end_thread_messages(*record);
    }
};
thread_local ForeignThreadEnd foreign_thread_end;

struct HookInstaller {
    HookInstaller() { add_thread_exit_hook(end_thread_messages); }
} hook_installer;

bool matches(const MSG &m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        if (m.hwnd) return false;
    } else if (hwnd && m.hwnd != hwnd) {
        return false;
    }
    return (lo == 0 && hi == 0) || (m.message >= lo && m.message <= hi);
}

bool quit_matches(UINT lo, UINT hi) {
    return (lo == 0 && hi == 0) || (WM_QUIT >= lo && WM_QUIT <= hi);
}

bool has_match(MessageQueue &q, HWND hwnd, UINT lo, UINT hi) {
    if (q.posted_count.load(std::memory_order_acquire) == 0) return false;
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.quit && quit_matches(lo, hi)) return true;
    for (const MSG &m : q.posted)
        if (matches(m, hwnd, lo, hi)) return true;
    return false;
}

bool post_to(MessageQueue &q, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.closed) return false;
        MSG m{};
        m.hwnd = hwnd;
        m.message = msg;
        m.wParam = wp;
        m.lParam = lp;
        m.time = tick_ms();
        q.posted.push_back(m);
        q.posted_count.fetch_add(1, std::memory_order_release);
        q.arrived |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    }
    notify(q.owner);
    return true;
}

thread_local MessageQueue *this_queue = nullptr;
thread_local bool keys_down[256];

void note_key(const MSG &m) {
    if ((m.message == WM_KEYDOWN || m.message == WM_KEYUP) && m.wParam < 256)
        keys_down[m.wParam] = m.message == WM_KEYDOWN;
}

int64_t now_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// A thread waiting for its next message spins first only while messages
// have been coming close together. Spinning through a long gap (a worker's
// network exchange between two list lines) wastes a core and, on these
// virtual machines, makes the wake-up that follows it slower still.
constexpr int64_t kBriefWaitUs = 30;

template <class Pred>
WaitEnd idle_wait(MessageQueue &q, Pred ready, int timeout_ms = -1) {
    const int spins = q.spin_idle ? spin_iterations.load(std::memory_order_relaxed) : 0;
    const int64_t start = now_us();
    WaitEnd end = wait_until_spinning(spins, ready, -1, 0, timeout_ms);
    q.spin_idle = now_us() - start < kBriefWaitUs;
    return end;
}

}  // namespace

MessageQueue &current_queue() {
    if (this_queue) return *this_queue;
    std::shared_ptr<ThreadRecord> t = current_thread_shared();
    if (!t->queue) t->queue = {new MessageQueue(*t), delete_queue};
    if (!t->created_by_layer) foreign_thread_end.record = t;
    this_queue = t->queue.get();
    return *this_queue;
}

MessageQueue *current_queue_if_any() { return this_queue; }

bool key_down(WPARAM vk) { return vk < 256 && keys_down[vk]; }

namespace {

// Keystrokes posted to a dialog (a top-level "#32770" window: a dialog
// or a message box) go to whichever window of the thread has the keyboard
// focus when the thread takes them, as typed keys do on Win32: keys typed
// ahead follow the focus that the keys before them moved, and reach a
// window that opened meanwhile. A pop-up menu takes its keys itself.
void to_focus(MSG *m) {
    if (m->message < WM_KEYDOWN || m->message > WM_CHAR || !m->hwnd) return;
    const std::shared_ptr<Window> w = find_window(m->hwnd);
    if (!w || strcmp(w->cls->name, "#32770") != 0) return;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        if (w->style & WS_CHILD) return;
    }
    const HWND focus = GetFocus();
    if (focus) m->hwnd = focus;
}

}  // namespace

int run_sent_messages(MessageQueue &q) {
    int ran = 0;
    while (q.sent_count.load(std::memory_order_acquire) > 0) {
        SentMessage *m;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            m = q.sent_head;
            if (!m) break;
            unlink(q, m);
            m->state.store(SentMessage::Running, std::memory_order_relaxed);
        }
        ++ran;
        // Hands the message back however the call ends: a stop request on
        // this thread unwinds through here, and the sender must not wait on.
        struct Finisher {
            SentMessage *m;
            LRESULT result = 0;
            ~Finisher() { finish(m, result); }
        } finisher{m};
        if (auto w = find_window(m->hwnd)) finisher.result = call_window(*w, m->msg, m->wp, m->lp);
    }
    return ran;
}

LRESULT send_message(const std::shared_ptr<Window> &w, UINT msg, WPARAM wp, LPARAM lp) {
    ThreadRecord &me = current_thread();
    if (w->thread.get() == &me) return call_window(*w, msg, wp, lp);

    MessageQueue &target = *w->thread->queue;  // made before the window was
    SentMessage m;
    m.hwnd = w->handle;
    m.msg = msg;
    m.wp = wp;
    m.lp = lp;
    m.sender = current_thread_shared();
    {
        std::lock_guard<std::mutex> lock(target.mutex);
        if (target.closed) return 0;
        link(target, &m);
    }
    notify(target.owner);

    MessageQueue *mine = current_queue_if_any();
    try {
        for (;;) {
            wait_until([&] {
                return m.state.load(std::memory_order_acquire) == SentMessage::Done ||
                       (mine && mine->sent_count.load(std::memory_order_acquire) > 0);
            });
            if (m.state.load(std::memory_order_acquire) == SentMessage::Done) break;
            run_sent_messages(*mine);
        }
    } catch (...) {
        // Stopped: withdraw the message if it still waits in the queue; if
        // it is running, wait for the receiver to finish with it, since lp
        // may point into this frame. This wait cannot be stopped.
        bool withdrawn = false;
        {
            std::lock_guard<std::mutex> lock(target.mutex);
            if (m.state.load(std::memory_order_relaxed) == SentMessage::Queued) {
                unlink(target, &m);
                withdrawn = true;
            }
        }
        if (!withdrawn) {
            for (;;) {
                uint32_t seen = me.wake_seq.load(std::memory_order_acquire);
                if (m.state.load(std::memory_order_acquire) == SentMessage::Done) break;
                sleep_once(me, seen, -1, 0, -1);
            }
        }
        throw;
    }
    return m.result;
}

bool send_notify(const std::shared_ptr<Window> &w, UINT msg, WPARAM wp, LPARAM lp) {
    if (w->thread.get() == &current_thread()) {
        call_window(*w, msg, wp, lp);
        return true;
    }
    MessageQueue &target = *w->thread->queue;
    auto *m = new SentMessage;
    m->hwnd = w->handle;
    m->msg = msg;
    m->wp = wp;
    m->lp = lp;
    {
        std::lock_guard<std::mutex> lock(target.mutex);
        if (target.closed) {
            delete m;
            return false;
        }
        link(target, m);
    }
    notify(target.owner);
    return true;
}

Got take_message(MSG *out, HWND hwnd, UINT lo, UINT hi, bool remove, bool wait,
                 bool return_after_sent) {
    MessageQueue &q = current_queue();
    for (;;) {
        const bool ran = run_sent_messages(q) > 0;
        Got got = Got::Nothing;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            q.arrived = 0;
            for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
                if (!matches(*it, hwnd, lo, hi)) continue;
                *out = *it;
                if (remove) {
                    q.posted.erase(it);
                    q.posted_count.fetch_sub(1, std::memory_order_release);
                }
                got = Got::Message;
                break;
            }
            if (got == Got::Nothing && q.quit && quit_matches(lo, hi)) {
                *out = MSG{};
                out->message = WM_QUIT;
                out->wParam = static_cast<WPARAM>(q.quit_code);
                out->time = tick_ms();
                if (remove) {
                    q.quit = false;
                    q.posted_count.fetch_sub(1, std::memory_order_release);
                }
                got = Got::Quit;
            }
        }
        if (got == Got::Message && remove) {
            note_key(*out);
            to_focus(out);
        }
        if (got != Got::Nothing) return got;
        if (!wait || (ran && return_after_sent)) return Got::Nothing;
        idle_wait(q, [&] {
            return q.sent_count.load(std::memory_order_acquire) > 0 || has_match(q, hwnd, lo, hi);
        });
    }
}

}  // namespace compat

using namespace compat;

namespace {

bool valid_filter(HWND hwnd) {
    if (!hwnd || hwnd == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) return true;
    auto w = find_window(hwnd);
    return w && w->thread_id == GetCurrentThreadId();
}

}  // namespace

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT lo, UINT hi) {
    if (!msg || !valid_filter(hwnd)) {
        SetLastError(kErrorInvalidWindowHandle);
        return -1;
    }
    return take_message(msg, hwnd, lo, hi, true, true, false) == Got::Quit ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT lo, UINT hi, UINT flags) {
    if (!msg || !valid_filter(hwnd)) return FALSE;
    return take_message(msg, hwnd, lo, hi, (flags & PM_REMOVE) != 0, false, false) == Got::Nothing
               ? FALSE
               : TRUE;
}

// Keyboard input comes as WM_COMMAND and WM_CHAR from the display back end
// already; there is nothing to translate.
BOOL WINAPI TranslateMessage(const MSG *) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
    if (!msg || !msg->hwnd) return 0;
    auto w = find_window(msg->hwnd);
    if (!w || w->thread_id != GetCurrentThreadId()) return 0;
    return call_window(*w, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (!hwnd) return post_to(current_queue(), nullptr, msg, wp, lp) ? TRUE : FALSE;
    auto w = hwnd == HWND_BROADCAST ? nullptr : find_window(hwnd);
    if (!w) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    if (!post_to(*w->thread->queue, hwnd, msg, wp, lp)) {
        SetLastError(kErrorInvalidThreadId);
        return FALSE;
    }
    return TRUE;
}

void WINAPI PostQuitMessage(int code) {
    MessageQueue &q = current_queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    if (!q.quit) q.posted_count.fetch_add(1, std::memory_order_release);
    q.quit = true;
    q.quit_code = code;
    q.arrived |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = find_window(hwnd);
    if (!w) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return send_message(w, msg, wp, lp);
}

LRESULT WINAPI SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM wp, LPARAM lp) {
    HWND item = GetDlgItem(dlg, id);
    return item ? SendMessageA(item, msg, wp, lp) : 0;
}

BOOL WINAPI SendNotifyMessageA(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = find_window(hwnd);
    if (!w) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    return send_notify(w, msg, wp, lp) ? TRUE : FALSE;
}

DWORD WINAPI GetQueueStatus(UINT flags) {
    MessageQueue &q = current_queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    UINT now = 0;
    if (!q.posted.empty() || q.quit) now |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    if (q.sent_head) now |= QS_SENDMESSAGE;
    const UINT arrived = q.arrived & flags;
    q.arrived &= ~flags;
    return (static_cast<DWORD>(now & flags) << 16) | arrived;
}

// Thread handles only, the one kind of object the program waits on. Sent
// messages are carried out here; the call returns WAIT_OBJECT_0 + n when it
// has done so and the mask asks for QS_SENDMESSAGE, or when a posted
// message waits in the queue and the mask asks for posted messages.
// fWaitAll waits for all the threads (or input).
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL wait_all,
                                       DWORD ms, DWORD mask) {
    if (count >= MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles)) {
        SetLastError(kErrorInvalidParameter);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<ThreadRecord>> threads;
    threads.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto t = thread_from_handle(handles[i]);
        if (!t || t.get() == &current_thread()) {
            SetLastError(6 /* ERROR_INVALID_HANDLE */);
            return WAIT_FAILED;
        }
        threads.push_back(std::move(t));
    }
    for (auto &t : threads) watch_thread_exit(*t);

    auto ended = [&](DWORD *which) {
        DWORD n_ended = 0;
        for (DWORD i = 0; i < count; ++i) {
            if (!thread_has_ended(*threads[i])) continue;
            if (!wait_all) {
                *which = i;
                return true;
            }
            ++n_ended;
        }
        *which = 0;
        return wait_all && count > 0 && n_ended == count;
    };
    const bool want_posted = (mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
    MessageQueue &q = current_queue();
    const int64_t deadline = ms == INFINITE ? -1 : monotonic_ms() + ms;
    for (;;) {
        DWORD which;
        if (ended(&which)) return WAIT_OBJECT_0 + which;
        if (run_sent_messages(q) > 0 && (mask & QS_SENDMESSAGE)) return WAIT_OBJECT_0 + count;
        if (want_posted && q.posted_count.load(std::memory_order_acquire) > 0)
            return WAIT_OBJECT_0 + count;
        int left = -1;
        if (deadline >= 0) {
            int64_t now = monotonic_ms();
            if (now >= deadline) return WAIT_TIMEOUT;
            left = static_cast<int>(deadline - now);
        }
        idle_wait(
            q,
            [&] {
                DWORD unused;
                return ended(&unused) || q.sent_count.load(std::memory_order_acquire) > 0 ||
                       (want_posted && q.posted_count.load(std::memory_order_acquire) > 0);
            },
            left);
    }
}
