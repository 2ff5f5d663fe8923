#include "core/thread_record.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <unordered_map>

namespace compat {

std::atomic<int> spin_iterations{2000};

namespace {

std::mutex registry_mutex;
std::unordered_map<DWORD, std::weak_ptr<ThreadRecord>> &registry() {
    static auto *map = new std::unordered_map<DWORD, std::weak_ptr<ThreadRecord>>();
    return *map;
}
std::atomic<DWORD> next_thread_id{0x100};

thread_local std::shared_ptr<ThreadRecord> this_thread_record;

}  // namespace

ThreadRecord::ThreadRecord() {
    id = next_thread_id.fetch_add(4);
    wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) abort();  // without a wake channel no wait could be stopped
}

ThreadRecord::~ThreadRecord() {
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        registry().erase(id);
    }
    if (wake_fd >= 0) close(wake_fd);
}

void register_thread(const std::shared_ptr<ThreadRecord> &t) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    registry()[t->id] = t;
}

std::shared_ptr<ThreadRecord> current_thread_shared() {
    if (!this_thread_record) {
        this_thread_record = std::make_shared<ThreadRecord>();
        register_thread(this_thread_record);
    }
    return this_thread_record;
}

ThreadRecord &current_thread() { return *current_thread_shared(); }

// Used by CreateThread's trampoline: the new thread adopts the record that
// its creator made (so the handle exists before the thread runs).
void adopt_thread_record(const std::shared_ptr<ThreadRecord> &t) {
    register_thread(t);
    this_thread_record = t;
}

void release_thread_record() { this_thread_record.reset(); }

std::shared_ptr<ThreadRecord> find_thread(DWORD id) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    auto it = registry().find(id);
    return it == registry().end() ? nullptr : it->second.lock();
}

void notify(ThreadRecord &t) {
    t.wake_seq.fetch_add(1, std::memory_order_seq_cst);
    if (t.sleeping.load(std::memory_order_seq_cst)) {
        uint64_t one = 1;
        ssize_t n = write(t.wake_fd, &one, sizeof one);
        (void)n;  // EAGAIN means the counter is already non-zero: still awake
    }
}

void stop_point() {
    ThreadRecord &t = current_thread();
    if (t.stop_requested.load(std::memory_order_acquire))
        throw ThreadExit{t.stop_code.load(std::memory_order_relaxed)};
}

int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool sleep_once(ThreadRecord &t, uint32_t seen, int fd, short events, int timeout_ms) {
    t.sleeping.store(true, std::memory_order_seq_cst);
    if (t.wake_seq.load(std::memory_order_seq_cst) != seen) {
        t.sleeping.store(false, std::memory_order_relaxed);
        return false;
    }
    pollfd fds[2] = {{t.wake_fd, POLLIN, 0}, {fd, events, 0}};
    int r = poll(fds, fd >= 0 ? 2 : 1, timeout_ms);
    t.sleeping.store(false, std::memory_order_relaxed);
    uint64_t drained;
    ssize_t n = read(t.wake_fd, &drained, sizeof drained);
    (void)n;
    if (r < 0) return false;  // EINTR: the caller re-tests and sleeps again
    return fd >= 0 && (fds[1].revents != 0);
}

}  // namespace compat
