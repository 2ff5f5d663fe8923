// Runs the check engine as the program does, without the program's windows:
// a results window with the sorted list 1003, owned by the test's thread,
// which takes the worker's messages until the worker has ended.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

class EngineRun {
public:
    // with_window: false runs the worker with a null results window.
    explicit EngineRun(bool with_window = true);
    ~EngineRun();
    EngineRun(const EngineRun &) = delete;
    EngineRun &operator=(const EngineRun &) = delete;

    // Copies text into the run's input copy as the main window does, starts
    // CheckWorker and carries out its messages until it ends. Returns the
    // worker's exit code.
    DWORD RunToEnd(const std::string &text);

    // Starts the worker over text and returns at once; Pump() then takes
    // messages until until() holds or the worker ends.
    void Start(const std::string &text);
    template <class Pred>
    bool PumpUntil(Pred until);
    HANDLE worker() const { return worker_; }
    // Stops a worker still running and waits for its end, as Close does.
    void Stop();

    HWND window() const { return window_; }
    std::vector<std::string> Lines() const;  // the list, in list order

    // Releases what the run still holds (input copy, a wildcard list still
    // recorded), as the results window's Close does.
    void Release();

private:
    bool PumpOnce(int timeout_ms);  // false once the worker has ended
    HWND parent_ = nullptr;
    HWND window_ = nullptr;
    HANDLE worker_ = nullptr;
};

template <class Pred>
bool EngineRun::PumpUntil(Pred until) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < deadline) {
        if (until()) return true;
        if (!PumpOnce(10)) return until();
    }
    return until();
}
