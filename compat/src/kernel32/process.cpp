// kernel32: handles in general, the last-error value, and the one module.
#include <windows.h>

#include "core/handles.h"

namespace {
thread_local DWORD last_error = 0;
// The running program is the only module; its handle is a fixed token.
const HMODULE kOwnModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));
}  // namespace

DWORD WINAPI GetLastError(void) { return last_error; }
void WINAPI SetLastError(DWORD code) { last_error = code; }

BOOL WINAPI CloseHandle(HANDLE h) {
    if (compat::close_handle(h)) return TRUE;
    SetLastError(6 /* ERROR_INVALID_HANDLE */);
    return FALSE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (name == nullptr) return kOwnModule;
    SetLastError(126 /* ERROR_MOD_NOT_FOUND */);
    return nullptr;
}
