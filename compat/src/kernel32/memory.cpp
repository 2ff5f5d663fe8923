// kernel32 global memory. Every block is recorded, so a handle that was never
// given out, or was freed already, is refused instead of corrupting the heap,
// and tests can count the blocks still alive.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "core/counters.h"

namespace {

struct Block {
    void *data;
    SIZE_T size;
    UINT flags;
    int locks;
};

std::mutex blocks_mutex;
// Keyed by handle value: the data pointer for fixed blocks, a separate
// token for moveable ones (as Win32 hands out for GMEM_MOVEABLE).
std::unordered_map<uintptr_t, Block> &blocks() {
    static auto *map = new std::unordered_map<uintptr_t, Block>();
    return *map;
}
uintptr_t next_moveable_token = 0x10000002;  // never a valid heap pointer value

}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    // A zero-byte block is still a distinct block, as on Win32.
    void *data = (flags & GMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (!data) {
        SetLastError(8 /* ERROR_NOT_ENOUGH_MEMORY */);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(blocks_mutex);
    uintptr_t key = reinterpret_cast<uintptr_t>(data);
    if (flags & GMEM_MOVEABLE) {
        key = next_moveable_token;
        next_moveable_token += 4;
    }
    blocks()[key] = Block{data, bytes, flags, 0};
    compat::live().global_blocks.fetch_add(1);
    return reinterpret_cast<HGLOBAL>(key);
}

LPVOID WINAPI GlobalLock(HGLOBAL h) {
    std::lock_guard<std::mutex> lock(blocks_mutex);
    auto it = blocks().find(reinterpret_cast<uintptr_t>(h));
    if (it == blocks().end()) {
        SetLastError(6 /* ERROR_INVALID_HANDLE */);
        return nullptr;
    }
    if (it->second.flags & GMEM_MOVEABLE) it->second.locks++;
    return it->second.data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL h) {
    std::lock_guard<std::mutex> lock(blocks_mutex);
    auto it = blocks().find(reinterpret_cast<uintptr_t>(h));
    if (it == blocks().end() || it->second.locks == 0) {
        SetLastError(it == blocks().end() ? 6 : 158 /* ERROR_NOT_LOCKED */);
        return FALSE;
    }
    return --it->second.locks > 0;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL h) {
    void *data;
    {
        std::lock_guard<std::mutex> lock(blocks_mutex);
        auto it = blocks().find(reinterpret_cast<uintptr_t>(h));
        if (it == blocks().end()) {
            SetLastError(6 /* ERROR_INVALID_HANDLE */);
            return h;
        }
        data = it->second.data;
        blocks().erase(it);
    }
    free(data);
    compat::live().global_blocks.fetch_sub(1);
    return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL h) {
    std::lock_guard<std::mutex> lock(blocks_mutex);
    auto it = blocks().find(reinterpret_cast<uintptr_t>(h));
    return it == blocks().end() ? 0 : it->second.size;
}
