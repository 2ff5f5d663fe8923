// Message queues: posted messages, cross-thread SendMessage carried out by the
// owner thread, and what stopping or ending either side does to a send.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/thread_record.h"
#include "leak_check.h"
#include "window_spy.h"

namespace {

using Clock = std::chrono::steady_clock;

// Spins (yielding) until the condition holds; for conditions that no
// layer event announces, such as a message arriving in a queue.
template <class Pred>
bool Eventually(Pred condition, int timeout_ms = 30000) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// A message from another thread waits in the calling thread's queue.
bool SendPending() { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }

bool Ended(HANDLE t) { return WaitForSingleObject(t, 0) == WAIT_OBJECT_0; }

DWORD ExitCode(HANDLE t) {
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    return code;
}

HWND Popup(const char *text) {
    return CreateWindowExA(0, "STATIC", text, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                           nullptr);
}

// A sorted results list holding "a" and "c", owned by the calling thread.
struct OwnedList {
    OwnedList() {
        top = Popup("owner");
        list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_SORT, 0, 0, 10, 10, top,
                               reinterpret_cast<HMENU>(1003), nullptr, nullptr);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a"));
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("c"));
    }
    ~OwnedList() { DestroyWindow(top); }
    LRESULT Count() { return SendMessageA(list, LB_GETCOUNT, 0, 0); }
    HWND top, list;
};

// A worker that adds "b" to the list from its own frame and keeps what
// SendMessageA returned.
struct SendJob {
    HWND list = nullptr;
    HANDLE worker = nullptr;
    LRESULT result = -99;
};

DWORD WINAPI SendLine(LPVOID param) {
    SendJob *job = static_cast<SendJob *>(param);
    char line[8];
    strcpy(line, "b");
    job->result = SendMessageA(job->list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    return 0;
}

std::atomic<HWND> helper_window{nullptr};

// Makes a window, and answers what is sent to it only after the thread
// given has ended.
DWORD WINAPI AnswerAfter(LPVOID param) {
    HWND h = Popup("helper");
    helper_window = h;
    WaitForSingleObject(static_cast<HANDLE>(param), INFINITE);
    EXPECT_TRUE(Eventually(SendPending));
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    return 0;
}

TEST(Messages, CrossThreadSendWaitsUntilTheOwnerTakesMessages) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        void (*take)(const SendJob &job);
    } cases[] = {
        {"PeekMessageA",
         [](const SendJob &) {
             MSG m;
             EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
         }},
        {"GetMessageA",
         [](const SendJob &) {
             PostMessageA(nullptr, WM_USER, 0, 0);
             MSG m;
             EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
             EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
         }},
        {"MsgWaitForMultipleObjects",
         [](const SendJob &) {
             EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT),
                       WAIT_OBJECT_0);
         }},
        {"the owner's own cross-thread send",
         [](const SendJob &job) {
             // The helper answers only once the worker's send is done, so
             // the owner must carry that out while it waits for its own.
             helper_window = nullptr;
             HANDLE helper = CreateThread(nullptr, 0, AnswerAfter, job.worker, 0, nullptr);
             EXPECT_TRUE(Eventually([] { return helper_window.load() != nullptr; }));
             char text[16] = "";
             EXPECT_EQ(GetWindowTextA(helper_window, text, sizeof text), 6);
             EXPECT_STREQ(text, "helper");
             EXPECT_EQ(WaitForSingleObject(helper, 30000), WAIT_OBJECT_0);
             CloseHandle(helper);
         }},
    };
    for (const Case &c : cases) {
        OwnedList owner;
        WindowSpy spy;
        spy.Watch(owner.list);
        SendJob job;
        job.list = owner.list;
        HANDLE worker = CreateThread(nullptr, 0, SendLine, &job, 0, nullptr);
        job.worker = worker;
        ASSERT_TRUE(Eventually(SendPending)) << c.name;
        EXPECT_EQ(owner.Count(), 2) << c.name << ": carried out before the owner took messages";
        EXPECT_FALSE(Ended(worker)) << c.name << ": the send returned early";

        c.take(job);

        ASSERT_EQ(WaitForSingleObject(worker, 30000), WAIT_OBJECT_0) << c.name;
        CloseHandle(worker);
        EXPECT_EQ(job.result, 1) << c.name << ": the index LB_ADDSTRING returned";
        EXPECT_EQ(owner.Count(), 3) << c.name;
        auto adds = spy.CallsOf(LB_ADDSTRING);
        ASSERT_EQ(adds.size(), 1u) << c.name;
        EXPECT_EQ(adds[0].thread_id, GetCurrentThreadId()) << c.name << ": ran on the wrong thread";
    }
}

DWORD WINAPI MakeListAndReturn(LPVOID param) {
    *static_cast<HWND *>(param) = Popup("short-lived");
    return 0;
}

std::atomic<HWND> pumping_window{nullptr};

DWORD WINAPI MakeWindowAndPump(LPVOID) {
    pumping_window = Popup("pumping");
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    return 0;
}

TEST(Messages, MessagesToGoneWindowsFailAtOnce) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        HWND (*make_gone)();
    } cases[] = {
        {"destroyed window",
         [] {
             HWND h = Popup("x");
             DestroyWindow(h);
             return h;
         }},
        {"window of a thread that returned",
         [] {
             HWND h = nullptr;
             HANDLE t = CreateThread(nullptr, 0, MakeListAndReturn, &h, 0, nullptr);
             EXPECT_EQ(WaitForSingleObject(t, 30000), WAIT_OBJECT_0);
             CloseHandle(t);
             return h;
         }},
        {"window of a thread stopped in GetMessageA",
         [] {
             pumping_window = nullptr;
             HANDLE t = CreateThread(nullptr, 0, MakeWindowAndPump, nullptr, 0, nullptr);
             EXPECT_TRUE(Eventually([] { return pumping_window.load() != nullptr; }));
             EXPECT_TRUE(IsWindow(pumping_window));
             EXPECT_TRUE(TerminateThread(t, 3));
             CloseHandle(t);
             return pumping_window.load();
         }},
    };
    for (const Case &c : cases) {
        HWND gone = c.make_gone();
        ASSERT_NE(gone, nullptr) << c.name;
        EXPECT_FALSE(IsWindow(gone)) << c.name;
        EXPECT_EQ(SendMessageA(gone, WM_GETTEXTLENGTH, 0, 0), 0) << c.name;
        EXPECT_FALSE(PostMessageA(gone, WM_USER, 0, 0)) << c.name;
        char text[8] = "zzz";
        EXPECT_EQ(GetWindowTextA(gone, text, sizeof text), 0) << c.name;
        EXPECT_STREQ(text, "") << c.name;
    }
}

// The receiver makes a window, waits until a message has been sent to it,
// and ends without taking it.
std::atomic<HWND> receiver_window{nullptr};

DWORD WINAPI ReceiveNothing(LPVOID param) {
    WindowSpy *spy = static_cast<WindowSpy *>(param);
    HWND h = Popup("receiver");
    spy->Watch(h);
    receiver_window = h;
    EXPECT_TRUE(Eventually(SendPending));
    return 0;
}

DWORD WINAPI SendUserMessage(LPVOID param) {
    return static_cast<DWORD>(SendMessageA(static_cast<HWND>(param), WM_USER, 0, 0) + 100);
}

TEST(Messages, SenderIsReleasedWhenTheReceiverEnds) {
    LeakCheck leaks;
    WindowSpy spy;
    receiver_window = nullptr;
    HANDLE receiver = CreateThread(nullptr, 0, ReceiveNothing, &spy, 0, nullptr);
    ASSERT_TRUE(Eventually([] { return receiver_window.load() != nullptr; }));
    HANDLE sender = CreateThread(nullptr, 0, SendUserMessage, receiver_window.load(), 0, nullptr);

    ASSERT_EQ(WaitForSingleObject(sender, 30000), WAIT_OBJECT_0) << "the sender was not released";
    EXPECT_EQ(ExitCode(sender), 100u) << "a released send returns 0";
    ASSERT_EQ(WaitForSingleObject(receiver, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(spy.CallsOf(WM_USER).empty()) << "the ended receiver carried out the message";
    EXPECT_EQ(spy.CallsOf(WM_DESTROY).size(), 1u) << "the receiver's window was not destroyed";
    CloseHandle(sender);
    CloseHandle(receiver);
}

TEST(Messages, StoppedSenderWithdrawsAQueuedMessage) {
    LeakCheck leaks;
    OwnedList owner;
    WindowSpy spy;
    spy.Watch(owner.list);
    SendJob job;
    job.list = owner.list;
    HANDLE worker = CreateThread(nullptr, 0, SendLine, &job, 0, nullptr);
    ASSERT_TRUE(Eventually(SendPending));

    ASSERT_TRUE(TerminateThread(worker, 77));
    EXPECT_EQ(ExitCode(worker), 77u);
    EXPECT_FALSE(SendPending()) << "the message stayed queued";
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(spy.CallsOf(LB_ADDSTRING).empty()) << "the owner saw the withdrawn message";
    EXPECT_EQ(owner.Count(), 2);
    EXPECT_EQ(job.result, -99);
    CloseHandle(worker);
}

// While the owner runs the message, a third thread stops the sender. The
// sender must stay until the owner is done with the line in its frame.
struct RunningCase {
    std::atomic<DWORD> sender_id{0};
    std::atomic<bool> running{false};
    bool sender_stayed = false;
    std::string line_seen;
} running_case;

void WhileRunning(HWND, UINT msg, WPARAM, LPARAM lp) {
    if (msg != LB_ADDSTRING) return;
    running_case.running = true;
    auto sender = compat::find_thread(running_case.sender_id);
    ASSERT_NE(sender, nullptr);
    ASSERT_TRUE(Eventually([&] { return sender->stop_requested.load(); }));
    // Give a sender that wrongly unwinds at once the time to do so.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(200);
    bool ended = false;
    while (Clock::now() < until && !(ended = compat::thread_has_ended(*sender)))
        std::this_thread::yield();
    running_case.sender_stayed = !ended;
    running_case.line_seen = reinterpret_cast<const char *>(lp);
}

TEST(Messages, StoppedSenderWaitsForAMessageAlreadyRunning) {
    LeakCheck leaks;
    OwnedList owner;
    WindowSpy spy;
    spy.Watch(owner.list, WhileRunning);
    SendJob job;
    job.list = owner.list;
    DWORD id = 0;
    HANDLE worker = CreateThread(nullptr, 0, SendLine, &job, 0, &id);
    running_case.sender_id = id;
    ASSERT_TRUE(Eventually(SendPending));
    std::thread stopper([&] {
        EXPECT_TRUE(Eventually([] { return running_case.running.load(); }));
        EXPECT_TRUE(TerminateThread(worker, 78));
    });
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // runs the message, and WhileRunning
    stopper.join();

    EXPECT_TRUE(running_case.sender_stayed) << "the sender unwound while its message ran";
    EXPECT_EQ(running_case.line_seen, "b");
    EXPECT_EQ(ExitCode(worker), 78u);
    EXPECT_EQ(job.result, -99) << "a stopped sender returns nothing";
    EXPECT_EQ(owner.Count(), 3) << "the running message completes";
    CloseHandle(worker);
}

TEST(Messages, PostedMessagesFiltersAndQuit) {
    LeakCheck leaks;
    HWND top = Popup("top");
    WindowSpy spy;
    spy.Watch(top);
    ASSERT_TRUE(PostMessageA(top, WM_USER + 1, 11, 0));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 2, 0, 0));  // a thread message
    ASSERT_TRUE(PostMessageA(top, WM_USER + 3, 0, 0));
    PostQuitMessage(5);

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, top, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(m.wParam, 11u);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 3)) << "range filter";
    ASSERT_TRUE(PeekMessageA(&m, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2)) << "(HWND)-1 takes thread messages only";

    std::vector<UINT> got;
    BOOL r;
    while ((r = GetMessageA(&m, nullptr, 0, 0)) > 0) {
        got.push_back(m.message);
        DispatchMessageA(&m);
    }
    EXPECT_EQ(r, FALSE);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.wParam, 5u);
    EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 1, WM_USER + 2})) << "WM_QUIT comes last";
    EXPECT_EQ(spy.CallsOf(WM_USER + 1).size(), 1u) << "dispatched to the window";
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));

    DestroyWindow(top);
    EXPECT_EQ(GetMessageA(&m, top, 0, 0), -1) << "filter on a window that is gone";
}

DWORD WINAPI ReturnAtOnce(LPVOID) { return 0; }

TEST(Messages, MsgWaitForMultipleObjects) {
    LeakCheck leaks;
    pumping_window = nullptr;
    HANDLE busy = CreateThread(nullptr, 0, MakeWindowAndPump, nullptr, 0, nullptr);
    ASSERT_TRUE(Eventually([] { return pumping_window.load() != nullptr; }));
    HANDLE quick = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
    MSG m;
    struct Case {
        const char *name;
        HANDLE handle;
        bool post;
        DWORD ms;
        DWORD mask;
        DWORD expected;
    } cases[] = {
        {"a thread that ends", quick, false, INFINITE, QS_ALLINPUT, WAIT_OBJECT_0},
        {"a posted message", busy, true, INFINITE, QS_ALLINPUT, WAIT_OBJECT_0 + 1},
        {"a posted message the mask leaves out", busy, true, 20, QS_SENDMESSAGE, WAIT_TIMEOUT},
        {"nothing", busy, false, 20, QS_ALLINPUT, WAIT_TIMEOUT},
        {"not a thread handle", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7770)), false,
         0, QS_ALLINPUT, WAIT_FAILED},
    };
    for (const Case &c : cases) {
        if (c.post) PostMessageA(nullptr, WM_USER, 0, 0);
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &c.handle, FALSE, c.ms, c.mask), c.expected)
            << c.name;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    TerminateThread(busy, 0);
    CloseHandle(busy);
    CloseHandle(quick);
}

}  // namespace
