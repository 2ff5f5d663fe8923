#include "core/exit_hooks.h"

#include <atomic>

namespace compat {

namespace {

// A fixed, lock-free registry: the hooks run on ending threads while other
// threads may still be adding theirs. Zero-initialised before any dynamic
// initialisation, so a hook added from another file's static initialiser is
// kept whatever the initialisation order.
constexpr int kMaxHooks = 8;
std::atomic<ThreadExitHook> hooks[kMaxHooks];
std::atomic<int> hook_count{0};

void run_thread_exit_hooks(ThreadRecord &t) {
    const int n = hook_count.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) {
        ThreadExitHook hook = hooks[i].load(std::memory_order_acquire);
        if (hook) hook(t);  // null: a slot being filled right now
    }
}

// Installed while the process is still single-threaded, so the plain pointer
// that the trampoline reads is never written while a thread ends.
struct Installer {
    Installer() { thread_exit_hook = run_thread_exit_hooks; }
} installer;

}  // namespace

bool add_thread_exit_hook(ThreadExitHook hook) {
    const int slot = hook_count.fetch_add(1, std::memory_order_acq_rel);
    if (slot >= kMaxHooks) {
        hook_count.fetch_sub(1, std::memory_order_acq_rel);
        return false;
    }
    hooks[slot].store(hook, std::memory_order_release);
    return true;
}

}  // namespace compat
