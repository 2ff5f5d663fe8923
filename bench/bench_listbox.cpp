// The sorted list box at the size of the largest run (65,536 result lines),
// and the cross-thread SendMessageA that carries each line to it.
#include <windows.h>
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLines = 65536;

// Result lines of a two-wildcard range in the order the worker checks them.
const std::vector<std::string> &ResultLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> v;
        v.reserve(kLines);
        char line[100];
        for (int i = 0; i < kLines; ++i) {
            snprintf(line, sizeof line, "ip 10.20.%d.%d   %s   美国 加利福尼亚州", i / 256, i % 256,
                     (i % 7 == 0) ? "在黑名单中" : "不在黑名单");
            v.push_back(line);
        }
        return v;
    }();
    return lines;
}

HWND MakeList(HWND *parent) {
    *parent = CreateWindowExA(0, "STATIC", "results", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                              nullptr, nullptr);
    return CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_SORT | LBS_EXTENDEDSEL, 0, 0, 290, 190,
                           *parent, reinterpret_cast<HMENU>(1003), nullptr, nullptr);
}

void BM_AddSorted65536(benchmark::State &state) {
    const auto &lines = ResultLines();
    for (auto _ : state) {
        state.PauseTiming();
        HWND parent;
        HWND list = MakeList(&parent);
        state.ResumeTiming();
        for (const std::string &line : lines)
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        state.PauseTiming();
        if (SendMessageA(list, LB_GETCOUNT, 0, 0) != kLines) state.SkipWithError("lines lost");
        DestroyWindow(parent);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddSorted65536)->Unit(benchmark::kMillisecond);

void BM_ReadBack65536(benchmark::State &state) {
    HWND parent;
    HWND list = MakeList(&parent);
    for (const std::string &line : ResultLines())
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    char buffer[100];
    for (auto _ : state) {
        LRESULT n = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i)
            SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        benchmark::DoNotOptimize(buffer);
    }
    DestroyWindow(parent);
}
BENCHMARK(BM_ReadBack65536)->Unit(benchmark::kMillisecond);

// A UI thread that owns the list and takes messages with GetMessageA.
class UiThread {
public:
    UiThread() {
        thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
        while (!list_.load()) std::this_thread::yield();
    }
    ~UiThread() {
        TerminateThread(thread_, 0);  // its windows go with it
        CloseHandle(thread_);
    }
    HWND list() const { return list_.load(); }

private:
    static DWORD WINAPI Main(LPVOID param) {
        UiThread *self = static_cast<UiThread *>(param);
        HWND parent;
        self->list_ = MakeList(&parent);
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
        return 0;
    }
    HANDLE thread_;
    std::atomic<HWND> list_{nullptr};
};

// Back to back: both threads stay awake.
void BM_CrossThreadSendRoundTrip(benchmark::State &state) {
    UiThread ui;
    for (auto _ : state) benchmark::DoNotOptimize(SendMessageA(ui.list(), LB_GETCOUNT, 0, 0));
}
BENCHMARK(BM_CrossThreadSendRoundTrip);

// As in a run: the worker sleeps about 95 us in its network exchange before
// each line, so the UI thread has gone to sleep by the time the line comes.
// Only the send is timed.
void BM_CrossThreadAddAfterSleep(benchmark::State &state) {
    UiThread ui;
    const auto &lines = ResultLines();
    size_t next = 0;
    const timespec gap{0, 95 * 1000};
    for (auto _ : state) {
        nanosleep(&gap, nullptr);
        auto start = std::chrono::steady_clock::now();
        SendMessageA(ui.list(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lines[next].c_str()));
        auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (++next == lines.size()) next = 0;
    }
}
BENCHMARK(BM_CrossThreadAddAfterSleep)->UseManualTime()->Unit(benchmark::kMicrosecond);

// All 65,536 lines sent from the worker to the UI thread's sorted list.
void BM_CrossThreadAdd65536(benchmark::State &state) {
    const auto &lines = ResultLines();
    for (auto _ : state) {
        state.PauseTiming();
        auto ui = std::make_unique<UiThread>();
        state.ResumeTiming();
        for (const std::string &line : lines)
            SendMessageA(ui->list(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        state.PauseTiming();
        ui.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CrossThreadAdd65536)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
