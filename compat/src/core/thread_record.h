// Per-thread state of the compatibility layer: the stop request that
// TerminateThread raises, the wake-up channel every blocking wait listens on,
// and the thread's exit state.
//
// Stopping a thread is cooperative. TerminateThread sets stop_requested and
// wakes the target; the target notices at its next call into the layer (every
// wait goes through wait_until) and unwinds with ThreadExit, which the thread
// trampoline catches. RAII in the layer releases whatever the wait held.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace compat {

struct MessageQueue;  // user32; created on the first window or message call

// Thrown to end a thread (ExitThread, or a stop request seen at a stop point).
// Never catch it except in the thread trampoline; catch (...) must rethrow.
struct ThreadExit {
    DWORD code;
};

struct ThreadRecord {
    ThreadRecord();
    ~ThreadRecord();
    ThreadRecord(const ThreadRecord &) = delete;
    ThreadRecord &operator=(const ThreadRecord &) = delete;

    DWORD id = 0;
    bool created_by_layer = false;  // CreateThread made it; ExitThread may unwind it

    // Stop request (TerminateThread).
    std::atomic<bool> stop_requested{false};
    std::atomic<DWORD> stop_code{0};

    // Wake-up: a counter that notify() bumps, plus an eventfd for sleeping.
    std::atomic<uint32_t> wake_seq{0};
    std::atomic<bool> sleeping{false};
    int wake_fd = -1;

    // Exit state, guarded by exit_mutex.
    std::mutex exit_mutex;
    std::condition_variable exit_cv;
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;

    // Threads blocked in WaitForSingleObject and the like on this one; each
    // is notified when this thread ends.
    std::vector<std::weak_ptr<ThreadRecord>> exit_watchers;

    // The thread's message queue, made by user32 on first use.
    std::unique_ptr<MessageQueue, void (*)(MessageQueue *)> queue{nullptr, nullptr};
};

// Called on a layer thread after its procedure has returned or unwound, before
// it counts as ended: user32 destroys the thread's windows and releases the
// senders that still wait on its queue.
extern void (*thread_exit_hook)(ThreadRecord &);

// For CreateThread: make the record findable by id, then adopt it on the new thread.
void register_thread(const std::shared_ptr<ThreadRecord> &t);
void adopt_thread_record(const std::shared_ptr<ThreadRecord> &t);
void release_thread_record();

// The record of the calling thread; made on first use for threads the layer
// did not create (the main thread, test threads).
ThreadRecord &current_thread();
std::shared_ptr<ThreadRecord> current_thread_shared();

// Looks up a thread by id (for GetWindowThreadProcessId users and queues).
std::shared_ptr<ThreadRecord> find_thread(DWORD id);

// Wakes the thread from a wait; safe from any thread.
void notify(ThreadRecord &t);

// Unwinds the calling thread if it has been asked to stop.
void stop_point();

// Thread handles (kernel32): the record a handle names (the pseudo handle of
// GetCurrentThread included), and waiting for a thread's end.
std::shared_ptr<ThreadRecord> thread_from_handle(HANDLE h);
bool watch_thread_exit(ThreadRecord &target);  // false: it has ended already
bool thread_has_ended(ThreadRecord &target);

// Blocks the calling thread until ready() is true, the optional descriptor
// becomes ready for `events`, or the deadline passes. Every wake-up re-tests
// ready(). A stop request unwinds the thread from inside the wait.
//   fd < 0: no descriptor.   timeout_ms < 0: no deadline.
// Returns the reason the wait ended.
enum class WaitEnd { Ready, Descriptor, Timeout };
template <class Pred>
WaitEnd wait_until(Pred ready, int fd = -1, short events = 0, int timeout_ms = -1);

// wait_until with its own spin count (spins >= 0) instead of spin_iterations,
// for a waiter that knows better: spinning through a long idle wait only
// delays the wake-up that follows it on these machines.
template <class Pred>
WaitEnd wait_until_spinning(int spins, Pred ready, int fd = -1, short events = 0,
                            int timeout_ms = -1);

// Non-template core of wait_until: one sleep on the wake channel (and fd).
// Returns true when fd became ready. `seen` is the wake_seq value observed
// before ready() was last tested, so a notify after that test is never lost.
bool sleep_once(ThreadRecord &t, uint32_t seen, int fd, short events, int timeout_ms);
int64_t monotonic_ms();

// How long a waiter spins before it sleeps; waking a sleeping thread costs
// tens of microseconds on virtual machines, a spinning one well under one.
extern std::atomic<int> spin_iterations;

template <class Pred>
WaitEnd wait_until(Pred ready, int fd, short events, int timeout_ms) {
    return wait_until_spinning(spin_iterations.load(std::memory_order_relaxed), ready, fd, events,
                               timeout_ms);
}

template <class Pred>
WaitEnd wait_until_spinning(int spins, Pred ready, int fd, short events, int timeout_ms) {
    ThreadRecord &t = current_thread();
    const int64_t deadline = timeout_ms < 0 ? -1 : monotonic_ms() + timeout_ms;
    for (;;) {
        stop_point();
        uint32_t seen = t.wake_seq.load(std::memory_order_acquire);
        if (ready()) return WaitEnd::Ready;
        if (fd < 0) {
            for (int i = 0; i < spins; ++i) {
                if (t.wake_seq.load(std::memory_order_acquire) != seen) break;
                __builtin_ia32_pause();
            }
            if (t.wake_seq.load(std::memory_order_acquire) != seen) continue;
        }
        int left = -1;
        if (deadline >= 0) {
            int64_t now = monotonic_ms();
            if (now >= deadline) return WaitEnd::Timeout;
            left = static_cast<int>(deadline - now);
        }
        if (sleep_once(t, seen, fd, events, left)) return WaitEnd::Descriptor;
    }
}

}  // namespace compat
