// kernel32 threads: exit codes, ExitThread, and the cooperative TerminateThread.
#include <windows.h>
#include <compat_seams.h>
#include <gtest/gtest.h>

#include <atomic>

#include "leak_check.h"

namespace {

DWORD WINAPI ReturnSeven(LPVOID) { return 7; }

DWORD WINAPI ExitWithStillActive(LPVOID) {
    DWORD code = 0;
    GetExitCodeThread(GetCurrentThread(), &code);
    ExitThread(code);
}

DWORD WaitAndClose(HANDLE h) {
    EXPECT_EQ(WaitForSingleObject(h, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_TRUE(CloseHandle(h));
    return code;
}

TEST(Threads, ExitCodes) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        LPTHREAD_START_ROUTINE routine;
        DWORD expected;
    } cases[] = {
        {"returns 7", ReturnSeven, 7},
        {"ExitThread with its own running code", ExitWithStillActive, STILL_ACTIVE},
    };
    for (const Case &c : cases) {
        HANDLE h = CreateThread(nullptr, 0, c.routine, nullptr, 0, nullptr);
        ASSERT_NE(h, nullptr) << c.name;
        EXPECT_EQ(WaitAndClose(h), c.expected) << c.name;
    }
}

TEST(Threads, CurrentThreadReportsStillActive) {
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
}

TEST(Threads, InvalidHandlesAreRefused) {
    DWORD code = 0;
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7777770));
    EXPECT_FALSE(GetExitCodeThread(bogus, &code));
    EXPECT_FALSE(TerminateThread(bogus, 1));
    EXPECT_FALSE(CloseHandle(bogus));
}

}  // namespace
