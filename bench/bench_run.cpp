// One whole run of a two-wildcard line (65,536 addresses) against the fake
// service on loopback, next to a bare loop that makes the same 65,536
// exchanges (connect, send the 1,024-byte request, receive until the
// service closes, close) with the same service and nothing else. Each
// iteration times both, one after the other, so the ratio compares them
// under the same load; its median is the figure to read.
#include <winsock2.h>
#include <windows.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "engine/check_run.h"
#include "fake_service.h"
#include "qqwry_builder.h"
#include "run_state.h"

namespace {

constexpr int kAddresses = 65536;
const char kTwoWildcards[] = "10.20.*.*";
constexpr int kResultListId = 1003;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One exchange as the blacklist client makes it, with the same calls.
bool BareExchange(const sockaddr_in &service, char *reply, int reply_size) {
    char request[1024];
    memset(request, 0, sizeof request);
    snprintf(request, sizeof request, "GET http://%s/api?ip=10.20.0.1\n\r\n", QV_SERVICE_HOST);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    bool ok = connect(s, reinterpret_cast<const sockaddr *>(&service), sizeof service) == 0;
    if (ok) {
        send(s, request, sizeof request, 0);
        int received = 0, n;
        while (received < reply_size &&
               (n = recv(s, reply + received, reply_size - received, 0)) > 0)
            received += n;
        ok = received > 0;
    }
    closesocket(s);
    return ok;
}

double BareLoop() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
    sockaddr_in service;
    memset(&service, 0, sizeof service);
    service.sin_family = AF_INET;
    service.sin_port = htons(80);
    service.sin_addr.s_addr = inet_addr(QV_SERVICE_ADDRESS);
    static char reply[2048];
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kAddresses; ++i)
        if (!BareExchange(service, reply, sizeof reply)) return -1;
    const double seconds = SecondsSince(start);
    WSACleanup();
    return seconds;
}

// The run as the program makes it: the worker over the input copy, sending
// each line to the sorted list of a window that this thread owns, while
// this thread waits for messages and carries them out as a dialog's loop
// does. Returns the seconds until the worker has ended, -1 on a lost line.
double WholeRun() {
    HWND window = CreateWindowExA(0, "STATIC", "results", WS_POPUP, 0, 0, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_SORT | LBS_EXTENDEDSEL, 0, 0, 290,
                                190, window, reinterpret_cast<HMENU>(kResultListId), nullptr,
                                nullptr);
    char *copy = static_cast<char *>(GlobalAlloc(GMEM_ZEROINIT, sizeof kTwoWildcards + 1));
    memcpy(copy, kTwoWildcards, sizeof kTwoWildcards);
    Run.inputCopy = copy;
    Run.resultsWindow = window;

    const Clock::time_point start = Clock::now();
    HANDLE worker = CreateThread(nullptr, 0, CheckWorker, window, 0, nullptr);
    Run.worker = worker;
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (r == WAIT_OBJECT_0) break;
    }
    const double seconds = SecondsSince(start);
    const bool whole = SendMessageA(list, LB_GETCOUNT, 0, 0) == kAddresses;

    CloseHandle(worker);
    Run.worker = nullptr;
    if (Run.wildcardList) GlobalFree(Run.wildcardList);
    Run.wildcardList = nullptr;
    GlobalFree(Run.inputCopy);
    Run.inputCopy = nullptr;
    DestroyWindow(window);
    return whole ? seconds : -1;
}

void BM_TwoWildcardRunAgainstBareLoop(benchmark::State &state) {
    TempWorkDir dir;
    QqwryBuilder db;
    db.Add(Ip(10, 0, 0, 0), Ip(10, 255, 255, 255), "局域网", "对方和您在同一内部网");
    db.Write();
    for (auto _ : state) {
        // A fresh service each time: it keeps a record of every request.
        auto service = std::make_unique<FakeService>();
        service->RouteServiceHere();
        const double bare = BareLoop();
        service = std::make_unique<FakeService>();
        service->RouteServiceHere();
        const double run = WholeRun();
        if (bare <= 0 || run <= 0) {
            state.SkipWithError("an exchange failed or a line was lost");
            break;
        }
        state.SetIterationTime(run);
        state.counters["bare_ms"] = bare * 1e3;
        state.counters["run_ms"] = run * 1e3;
        state.counters["run_per_bare"] = run / bare;
        service.reset();
    }
    ClearServiceRoutes();
}
BENCHMARK(BM_TwoWildcardRunAgainstBareLoop)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
