// kernel32 threads on POSIX threads.
//
// A thread handle refers to the thread's ThreadRecord. TerminateThread asks
// the target to stop, wakes it from whatever layer wait it is in, and returns
// once it has ended, so the caller may release what the target was using.
#include <windows.h>
#include <pthread.h>

#include "core/counters.h"
#include "core/handles.h"
#include "core/thread_record.h"

namespace compat {

void (*thread_exit_hook)(ThreadRecord &) = nullptr;

namespace {

const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

struct ThreadObject final : KernelObject {
    std::shared_ptr<ThreadRecord> record;
};

struct StartBlock {
    std::shared_ptr<ThreadRecord> record;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

void finish_thread(ThreadRecord &t, DWORD code) {
    if (thread_exit_hook) thread_exit_hook(t);
    // Counted out before the end is announced, so whoever sees the end (a
    // TerminateThread or a wait that returns) also sees the count drop.
    live().threads.fetch_sub(1);
    std::vector<std::weak_ptr<ThreadRecord>> watchers;
    {
        std::lock_guard<std::mutex> lock(t.exit_mutex);
        t.ended = true;
        t.exit_code = code;
        watchers.swap(t.exit_watchers);
    }
    t.exit_cv.notify_all();
    for (auto &w : watchers)
        if (auto r = w.lock()) notify(*r);
}

void *trampoline(void *arg) {
    StartBlock *start = static_cast<StartBlock *>(arg);
    std::shared_ptr<ThreadRecord> record = start->record;
    LPTHREAD_START_ROUTINE routine = start->routine;
    LPVOID parameter = start->parameter;
    delete start;
    adopt_thread_record(record);
    DWORD code;
    try {
        stop_point();  // a thread stopped before it ran never runs
        code = routine(parameter);
    } catch (const ThreadExit &e) {
        code = e.code;
    }
    finish_thread(*record, code);
    release_thread_record();
    return nullptr;
}

std::shared_ptr<ThreadRecord> thread_of(HANDLE h) {
    if (h == kCurrentThreadPseudoHandle) return current_thread_shared();
    auto obj = lookup_handle(h);
    auto *thread = dynamic_cast<ThreadObject *>(obj.get());
    return thread ? thread->record : nullptr;
}

}  // namespace

// Registers the calling thread to be woken when `target` ends. Returns false
// when it has ended already.
bool watch_thread_exit(ThreadRecord &target) {
    std::lock_guard<std::mutex> lock(target.exit_mutex);
    if (target.ended) return false;
    // A thread that waits again and again (a message loop) is listed once;
    // entries of threads that have gone are dropped on the way.
    ThreadRecord *self = &current_thread();
    auto &watchers = target.exit_watchers;
    bool listed = false;
    for (size_t i = 0; i < watchers.size();) {
        auto watcher = watchers[i].lock();
        if (!watcher) {
            watchers[i] = watchers.back();
            watchers.pop_back();
            continue;
        }
        listed = listed || watcher.get() == self;
        ++i;
    }
    if (!listed) watchers.push_back(current_thread_shared());
    return true;
}

bool thread_has_ended(ThreadRecord &target) {
    std::lock_guard<std::mutex> lock(target.exit_mutex);
    return target.ended;
}

std::shared_ptr<ThreadRecord> thread_from_handle(HANDLE h) { return thread_of(h); }

}  // namespace compat

using namespace compat;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack_size, LPTHREAD_START_ROUTINE routine,
                           LPVOID parameter, DWORD flags, LPDWORD thread_id) {
    if (!routine || (flags & CREATE_SUSPENDED)) {
        SetLastError(87 /* ERROR_INVALID_PARAMETER */);
        return nullptr;
    }
    auto record = std::make_shared<ThreadRecord>();
    record->created_by_layer = true;
    auto object = std::make_shared<ThreadObject>();
    object->record = record;
    register_thread(record);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stack_size >= 65536) pthread_attr_setstacksize(&attr, stack_size);
    live().threads.fetch_add(1);
    HANDLE handle = insert_handle(object);
    auto *start = new StartBlock{record, routine, parameter};
    pthread_t tid;
    int rc = pthread_create(&tid, &attr, trampoline, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete start;
        live().threads.fetch_sub(1);
        CloseHandle(handle);
        SetLastError(8 /* ERROR_NOT_ENOUGH_MEMORY */);
        return nullptr;
    }
    if (thread_id) *thread_id = record->id;
    return handle;
}

void WINAPI ExitThread(DWORD code) {
    if (!current_thread().created_by_layer) {
        // Only layer threads have a trampoline to unwind to; ending any other
        // thread this way is a programming error.
        abort();
    }
    throw ThreadExit{code};
}

BOOL WINAPI TerminateThread(HANDLE h, DWORD code) {
    auto target = thread_of(h);
    if (!target) {
        SetLastError(6 /* ERROR_INVALID_HANDLE */);
        return FALSE;
    }
    if (target.get() == &current_thread()) ExitThread(code);
    std::unique_lock<std::mutex> lock(target->exit_mutex);
    if (target->ended) return TRUE;
    if (!target->stop_requested.exchange(true)) target->stop_code.store(code);
    lock.unlock();
    notify(*target);
    lock.lock();
    target->exit_cv.wait(lock, [&] { return target->ended; });
    return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code) {
    auto target = thread_of(h);
    if (!target || !code) {
        SetLastError(6 /* ERROR_INVALID_HANDLE */);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(target->exit_mutex);
    *code = target->ended ? target->exit_code : STILL_ACTIVE;
    return TRUE;
}

HANDLE WINAPI GetCurrentThread(void) { return kCurrentThreadPseudoHandle; }

DWORD WINAPI GetCurrentThreadId(void) { return current_thread().id; }

DWORD WINAPI GetThreadId(HANDLE h) {
    auto target = thread_of(h);
    return target ? target->id : 0;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    auto target = thread_of(h);
    if (!target || target.get() == &current_thread()) return WAIT_FAILED;
    watch_thread_exit(*target);
    WaitEnd end = wait_until([&] { return thread_has_ended(*target); }, -1, 0,
                             ms == INFINITE ? -1 : static_cast<int>(ms));
    return end == WaitEnd::Timeout ? WAIT_TIMEOUT : WAIT_OBJECT_0;
}
