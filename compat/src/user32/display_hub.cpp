// The core side of the display seam: the installed back end, the change
// counter and the threads that wait on it.
#include <compat_seams.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "core/thread_record.h"
#include "display/display.h"

namespace compat {
namespace display {

namespace {

std::atomic<Backend *> installed{nullptr};
std::atomic<unsigned long> change_count{0};

// Waiters register so that a change wakes them; the count of waiters
// keeps the common case (nobody waits) to two atomic operations.
std::atomic<int> waiter_count{0};
std::mutex &waiters_mutex() {
    static auto *m = new std::mutex();
    return *m;
}
std::vector<std::shared_ptr<ThreadRecord>> &waiters() {
    static auto *w = new std::vector<std::shared_ptr<ThreadRecord>>();
    return *w;
}

void bump() {
    change_count.fetch_add(1, std::memory_order_seq_cst);
    if (waiter_count.load(std::memory_order_seq_cst) == 0) return;
    std::lock_guard<std::mutex> lock(waiters_mutex());
    for (auto &t : waiters()) notify(*t);
}

}  // namespace

Backend *set_backend(Backend *backend) { return installed.exchange(backend); }

void changed(HWND hwnd, Change change) {
    bump();
    if (Backend *b = installed.load(std::memory_order_acquire)) b->window_changed(hwnd, change);
}

}  // namespace display
}  // namespace compat

using namespace compat;
using namespace compat::display;

unsigned long CompatWindowChangeCount(void) { return change_count.load(std::memory_order_seq_cst); }

int CompatWaitWindowChange(unsigned long seen, int timeout_ms) {
    std::shared_ptr<ThreadRecord> me = current_thread_shared();
    {
        std::lock_guard<std::mutex> lock(waiters_mutex());
        waiters().push_back(me);
    }
    waiter_count.fetch_add(1, std::memory_order_seq_cst);
    struct Unregister {
        ThreadRecord *me;
        ~Unregister() {
            waiter_count.fetch_sub(1, std::memory_order_seq_cst);
            std::lock_guard<std::mutex> lock(waiters_mutex());
            auto &w = waiters();
            auto it = std::find_if(w.begin(), w.end(), [&](const auto &t) { return t.get() == me; });
            if (it != w.end()) w.erase(it);
        }
    } unregister{me.get()};
    wait_until([&] { return change_count.load(std::memory_order_seq_cst) != seen; }, -1, 0,
               timeout_ms);
    return change_count.load(std::memory_order_seq_cst) != seen ? 1 : 0;
}

void CompatSignalWindowChange(void) { bump(); }
