// MessageBoxA and the stand-in for the user that answers it.
#include <compat_seams.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "leak_check.h"
#include "user_stand_in.h"

namespace {

struct BoxJob {
    HWND owner = nullptr;
    const char *text = "";
    const char *caption = "";
    UINT type = MB_OK;
    int result = -1;
};

DWORD WINAPI ShowBox(LPVOID param) {
    BoxJob *job = static_cast<BoxJob *>(param);
    job->result = MessageBoxA(job->owner, job->text, job->caption, job->type);
    return 0;
}

HWND Popup(const char *text) {
    return CreateWindowExA(0, "STATIC", text, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                           nullptr);
}

TEST(MessageBox, ButtonsAndAnswers) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        UINT type;
        std::vector<int> buttons;
        std::vector<int> presses;  // the last one ends the box
        int expected;
    } cases[] = {
        {"OK", MB_OK | MB_ICONERROR, {IDOK}, {IDOK}, IDOK},
        {"Esc on a lone OK means OK", MB_OK, {IDOK}, {IDCANCEL}, IDOK},
        {"OK/Cancel, Cancel", MB_OKCANCEL, {IDOK, IDCANCEL}, {IDCANCEL}, IDCANCEL},
        {"Yes/No ignores what it lacks", MB_YESNO | MB_ICONQUESTION, {IDYES, IDNO},
         {IDCANCEL, IDOK, IDNO}, IDNO},
        {"Abort/Retry/Ignore", MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, {IDRETRY},
         IDRETRY},
    };
    for (const Case &c : cases) {
        BoxJob job;
        job.text = "无法连接";
        job.caption = "警告";
        job.type = c.type;
        DWORD worker_id = 0;
        HANDLE worker = CreateThread(nullptr, 0, ShowBox, &job, 0, &worker_id);

        MessageBoxSeen seen;
        ASSERT_TRUE(WaitForMessageBox(&seen)) << c.name;
        EXPECT_EQ(seen.text, "无法连接") << c.name;
        EXPECT_EQ(seen.caption, "警告") << c.name;
        EXPECT_EQ(seen.style, c.type) << c.name;
        EXPECT_EQ(seen.thread_id, worker_id) << c.name;
        EXPECT_EQ(seen.owner, nullptr) << c.name;
        for (int id = IDOK; id <= IDNO; ++id) {
            bool expected = std::find(c.buttons.begin(), c.buttons.end(), id) != c.buttons.end();
            EXPECT_EQ(GetDlgItem(seen.box, id) != nullptr, expected) << c.name << ": button " << id;
        }
        for (size_t i = 0; i + 1 < c.presses.size(); ++i)
            PostMessageA(seen.box, WM_COMMAND, static_cast<WPARAM>(c.presses[i]), 0);
        ASSERT_TRUE(PressMessageBoxButton(seen.box, c.presses.back())) << c.name;

        ASSERT_EQ(WaitForSingleObject(worker, 30000), WAIT_OBJECT_0) << c.name;
        CloseHandle(worker);
        EXPECT_EQ(job.result, c.expected) << c.name;
    }
}

TEST(MessageBox, OwnerIsDisabledWhileTheBoxShows) {
    LeakCheck leaks;
    struct Case {
        const char *name;
        bool enabled_before;
    } cases[] = {
        {"enabled owner is enabled again", true},
        {"disabled owner stays disabled", false},
    };
    for (const Case &c : cases) {
        HWND owner = Popup("main");
        EnableWindow(owner, c.enabled_before);
        MessageBoxSeen seen;
        bool enabled_during = true;
        std::thread user([&] {
            if (!WaitForMessageBox(&seen)) return;
            enabled_during = IsWindowEnabled(owner) != FALSE;
            PressMessageBoxButton(seen.box);
        });
        int r = MessageBoxA(owner, "notice", "版权信息", MB_OK | MB_ICONINFORMATION);
        user.join();
        EXPECT_EQ(r, IDOK) << c.name;
        EXPECT_EQ(seen.owner, owner) << c.name;
        EXPECT_EQ(seen.thread_id, GetCurrentThreadId()) << c.name;
        EXPECT_FALSE(enabled_during) << c.name;
        EXPECT_EQ(IsWindowEnabled(owner) != FALSE, c.enabled_before) << c.name;
        DestroyWindow(owner);
    }
}

TEST(MessageBox, StoppedThreadsBoxDisappears) {
    LeakCheck leaks;
    BoxJob job;
    job.text = "blocked";
    HANDLE worker = CreateThread(nullptr, 0, ShowBox, &job, 0, nullptr);
    MessageBoxSeen seen;
    ASSERT_TRUE(WaitForMessageBox(&seen));
    HWND ok = GetDlgItem(seen.box, IDOK);
    ASSERT_NE(ok, nullptr);

    ASSERT_TRUE(TerminateThread(worker, 9));
    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    EXPECT_EQ(code, 9u);
    EXPECT_FALSE(IsWindow(seen.box));
    EXPECT_FALSE(IsWindow(ok));
    EXPECT_EQ(job.result, -1) << "MessageBoxA returned for a stopped thread";
    CloseHandle(worker);
}

struct AddJob {
    HWND list;
    LRESULT result = -1;
};

DWORD WINAPI AddLine(LPVOID param) {
    AddJob *job = static_cast<AddJob *>(param);
    job->result = SendMessageA(job->list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("line"));
    return 0;
}

TEST(MessageBox, ItsLoopCarriesOutMessagesSentToItsThread) {
    LeakCheck leaks;
    HWND top = Popup("results");
    HWND list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_SORT, 0, 0, 10, 10, top,
                                reinterpret_cast<HMENU>(1003), nullptr, nullptr);
    AddJob job{list};
    bool added_while_shown = false;
    std::thread user([&] {
        if (!WaitForMessageBox(nullptr)) return;
        HANDLE adder = CreateThread(nullptr, 0, AddLine, &job, 0, nullptr);
        added_while_shown = WaitForSingleObject(adder, 30000) == WAIT_OBJECT_0;
        CloseHandle(adder);
        DismissMessageBox();
    });
    EXPECT_EQ(MessageBoxA(top, "about", "about", MB_OK), IDOK);
    user.join();
    EXPECT_TRUE(added_while_shown) << "the send waited for the box to close";
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 1);
    DestroyWindow(top);
}

TEST(MessageBox, QuitMessageEndsTheBoxAndStaysPosted) {
    LeakCheck leaks;
    AutoDismisser user;  // so that a box that ignores WM_QUIT still ends
    PostQuitMessage(4);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 0);
    MSG m;
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 4u);
}

const char *const kSequence[] = {"one", "two", "three"};

DWORD WINAPI ShowThreeBoxes(LPVOID) {
    DWORD answers = 0;
    for (const char *text : kSequence)
        if (MessageBoxA(nullptr, text, "警告", MB_ICONERROR) == IDOK) ++answers;
    return answers;
}

TEST(UserStandIn, AutoDismisserRecordsAndPressesEveryBox) {
    LeakCheck leaks;
    AutoDismisser user;
    DWORD worker_id = 0;
    HANDLE worker = CreateThread(nullptr, 0, ShowThreeBoxes, nullptr, 0, &worker_id);
    ASSERT_TRUE(user.WaitForCount(3));
    ASSERT_EQ(WaitForSingleObject(worker, 30000), WAIT_OBJECT_0);
    DWORD answers = 0;
    GetExitCodeThread(worker, &answers);
    EXPECT_EQ(answers, 3u);
    CloseHandle(worker);
    std::vector<MessageBoxSeen> seen = user.Seen();
    ASSERT_EQ(seen.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].text, kSequence[i]);
        EXPECT_EQ(seen[i].caption, "警告");
        EXPECT_EQ(seen[i].style, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(seen[i].thread_id, worker_id);
    }
}

TEST(UserStandIn, HoldingLeavesBoxesUntilAllowed) {
    LeakCheck leaks;
    AutoDismisser user(AutoDismisser::Holding);
    HANDLE worker = CreateThread(nullptr, 0, ShowThreeBoxes, nullptr, 0, nullptr);
    ASSERT_TRUE(user.WaitForCount(1));
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(IsWindow(user.Seen()[0].box)) << "a held box was pressed";
    EXPECT_EQ(user.Count(), 1u);

    user.Allow();
    ASSERT_EQ(WaitForSingleObject(worker, 30000), WAIT_OBJECT_0);
    EXPECT_EQ(user.Count(), 3u);
    CloseHandle(worker);
}

}  // namespace
