#include "engine_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "engine/check_run.h"
#include "run_state.h"

EngineRun::EngineRun(bool with_window) {
    if (!with_window) return;
    parent_ = CreateWindowExA(0, "STATIC", "results", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    window_ = parent_;
    HWND list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_SORT | LBS_EXTENDEDSEL, 0, 0, 290,
                                190, parent_, reinterpret_cast<HMENU>(RESULT_LIST_ID),
                                GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(list, nullptr);
}

EngineRun::~EngineRun() {
    Stop();
    Release();
    if (parent_) DestroyWindow(parent_);
}

void EngineRun::Start(const std::string &text) {
    char *copy = static_cast<char *>(GlobalAlloc(GMEM_ZEROINIT, text.size() + 2));
    ASSERT_NE(copy, nullptr);
    memcpy(copy, text.data(), text.size());
    Run.inputCopy = copy;
    Run.resultsWindow = window_;
    worker_ = CreateThread(nullptr, 0, CheckWorker, window_, 0, nullptr);
    ASSERT_NE(worker_, nullptr);
    Run.worker = worker_;
}

bool EngineRun::PumpOnce(int timeout_ms) {
    if (!worker_) return false;
    DWORD r = MsgWaitForMultipleObjects(1, &worker_, FALSE, static_cast<DWORD>(timeout_ms),
                                        QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    return r != WAIT_OBJECT_0;
}

DWORD EngineRun::RunToEnd(const std::string &text) {
    Start(text);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (PumpOnce(100)) {
        if (std::chrono::steady_clock::now() > deadline) {  // the worker is stuck
            ADD_FAILURE() << "worker did not end";
            Stop();
            break;
        }
    }
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(worker_, &code));
    return code;
}

void EngineRun::Stop() {
    if (!worker_) return;
    DWORD code = 0;
    if (GetExitCodeThread(worker_, &code) && code == STILL_ACTIVE)
        TerminateThread(worker_, STILL_ACTIVE);
}

std::vector<std::string> EngineRun::Lines() const {
    std::vector<std::string> lines;
    if (!window_) return lines;
    HWND list = GetDlgItem(window_, RESULT_LIST_ID);
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::string line(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&line[0]));
        line.resize(static_cast<size_t>(length));
        lines.push_back(line);
    }
    return lines;
}

void EngineRun::Release() {
    if (worker_) {
        CloseHandle(worker_);
        worker_ = nullptr;
        Run.worker = nullptr;
    }
    if (Run.wildcardList) {
        // GlobalFree refuses a block it does not hold: a list freed twice fails here.
        EXPECT_EQ(GlobalFree(Run.wildcardList), nullptr);
        Run.wildcardList = nullptr;
    }
    if (Run.inputCopy) {
        GlobalFree(Run.inputCopy);
        Run.inputCopy = nullptr;
    }
}
