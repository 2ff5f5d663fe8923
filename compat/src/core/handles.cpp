#include "core/handles.h"

#include <mutex>
#include <unordered_map>

#include "core/counters.h"

namespace compat {

namespace {

std::mutex table_mutex;
std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> &table() {
    static auto *t = new std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>>();
    return *t;
}
// Handle values are multiples of 4, as on Win32, and never reused, so a stale
// handle cannot name a newer object.
uintptr_t next_handle = 0x1000;

}  // namespace

LiveCounters &live() {
    static LiveCounters counters;
    return counters;
}

HANDLE insert_handle(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(table_mutex);
    uintptr_t value = next_handle;
    next_handle += 4;
    table()[value] = std::move(object);
    live().handles.fetch_add(1);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookup_handle(HANDLE h) {
    std::lock_guard<std::mutex> lock(table_mutex);
    auto it = table().find(reinterpret_cast<uintptr_t>(h));
    return it == table().end() ? nullptr : it->second;
}

bool close_handle(HANDLE h) {
    std::shared_ptr<KernelObject> doomed;  // destroyed after the lock is released
    {
        std::lock_guard<std::mutex> lock(table_mutex);
        auto it = table().find(reinterpret_cast<uintptr_t>(h));
        if (it == table().end()) return false;
        doomed = std::move(it->second);
        table().erase(it);
    }
    live().handles.fetch_sub(1);
    return true;
}

}  // namespace compat
