#include "user_stand_in.h"

#include <compat_seams.h>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

BOOL CALLBACK CollectBox(HWND h, LPARAM lp) {
    if (CompatGetMessageBoxStyle(h) != COMPAT_NO_MESSAGE_BOX)
        reinterpret_cast<std::vector<HWND> *>(lp)->push_back(h);
    return TRUE;
}

// Message boxes now showing, in the order they were made.
std::vector<HWND> ShowingBoxes() {
    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

std::string WindowText(HWND h) {
    int length = GetWindowTextLengthA(h);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(h, &text[0], length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

// Reads the box as a user would see it. The texts come from the box's own
// thread, which answers while its modal loop runs; false when the box went
// away meanwhile.
bool Describe(HWND box, MessageBoxSeen *seen) {
    seen->box = box;
    seen->style = CompatGetMessageBoxStyle(box);
    if (seen->style == COMPAT_NO_MESSAGE_BOX) return false;
    seen->thread_id = GetWindowThreadProcessId(box, nullptr);
    seen->owner = GetWindow(box, GW_OWNER);
    seen->caption = WindowText(box);
    seen->text = WindowText(GetDlgItem(box, COMPAT_MESSAGE_BOX_TEXT_ID));
    return IsWindow(box) != FALSE;
}

// Tests the condition after every window change until it holds or the
// time is up.
template <class Pred>
bool WaitForCondition(Pred condition, int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        unsigned long seen = CompatWindowChangeCount();
        if (condition()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        CompatWaitWindowChange(seen, static_cast<int>(left.count()));
    }
}

}  // namespace

bool WaitForMessageBox(MessageBoxSeen *seen, int timeout_ms) {
    MessageBoxSeen found;
    bool ok = WaitForCondition(
        [&] {
            for (HWND box : ShowingBoxes())
                if (Describe(box, &found)) return true;
            return false;
        },
        timeout_ms);
    if (ok && seen) *seen = found;
    return ok;
}

bool PressMessageBoxButton(HWND box, int button, int timeout_ms) {
    if (!PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0)) return false;
    return WaitForCondition([&] { return !IsWindow(box); }, timeout_ms);
}

bool DismissMessageBox(MessageBoxSeen *seen, int timeout_ms) {
    MessageBoxSeen found;
    if (!WaitForMessageBox(&found, timeout_ms)) return false;
    if (seen) *seen = found;
    return PressMessageBoxButton(found.box, IDOK, timeout_ms);
}

AutoDismisser::AutoDismisser(Mode mode) : allowed_(mode == Pressing) {
    watcher_ = std::thread([this] { Watch(); });
}

AutoDismisser::~AutoDismisser() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    CompatSignalWindowChange();
    watcher_.join();
}

void AutoDismisser::Allow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        allowed_ = true;
    }
    CompatSignalWindowChange();
}

bool AutoDismisser::WaitForCount(size_t n, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return seen_changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return seen_.size() >= n; });
}

size_t AutoDismisser::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
}

std::vector<MessageBoxSeen> AutoDismisser::Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void AutoDismisser::Watch() {
    for (;;) {
        const unsigned long changes = CompatWindowChangeCount();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        for (HWND box : ShowingBoxes()) {
            bool known;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                known = std::any_of(seen_.begin(), seen_.end(),
                                    [&](const MessageBoxSeen &s) { return s.box == box; });
            }
            if (!known) {
                MessageBoxSeen seen;
                if (!Describe(box, &seen)) continue;
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(seen);
                seen_changed_.notify_all();
            }
            bool press;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                press = allowed_ && pressed_.insert(box).second;
            }
            if (press) PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        CompatWaitWindowChange(changes, -1);
    }
}
