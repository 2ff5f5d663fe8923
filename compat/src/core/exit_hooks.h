// What the end of a layer thread sets off. Parts of the layer that keep
// per-thread resources (sockets, windows and queues) each add one hook; the
// thread trampoline runs them all, in the order they were added, after the
// thread procedure has returned or unwound and before the thread counts as
// ended, so a waiter that sees the end also sees the resources released.
//
// This is the one owner of compat::thread_exit_hook: add hooks here rather
// than assigning that pointer.
#pragma once

#include "core/thread_record.h"

namespace compat {

using ThreadExitHook = void (*)(ThreadRecord &);

// Safe at any time, from any thread, static initialisation included; a hook
// added while a thread is ending may or may not run for that thread.
// Returns false when the registry is full.
bool add_thread_exit_hook(ThreadExitHook hook);

}  // namespace compat
