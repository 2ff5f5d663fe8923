// Subclasses windows to record the messages their procedure receives, and on
// which thread, before passing each on to the original procedure.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

class WindowSpy {
public:
    struct Call {
        HWND hwnd;
        UINT msg;
        DWORD thread_id;
    };

    WindowSpy() = default;
    ~WindowSpy() {
        std::lock_guard<std::mutex> lock(registry_mutex());
        // Windows that outlive the spy keep their original procedure.
        for (auto &entry : registry())
            if (entry.second.spy == this) entry.second = Entry{nullptr, entry.second.original, nullptr};
    }

    // Records h's messages from now on. An optional hook runs before the
    // original procedure (on the window's thread).
    void Watch(HWND h, void (*hook)(HWND, UINT, WPARAM, LPARAM) = nullptr) {
        std::lock_guard<std::mutex> lock(registry_mutex());
        WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC));
        registry()[h] = Entry{this, original, hook};
        SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc));
    }

    std::vector<Call> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    // The calls of one message, in order.
    std::vector<Call> CallsOf(UINT msg) const {
        std::vector<Call> out;
        for (const Call &c : Calls())
            if (c.msg == msg) out.push_back(c);
        return out;
    }

private:
    struct Entry {
        WindowSpy *spy;
        WNDPROC original;
        void (*hook)(HWND, UINT, WPARAM, LPARAM);
    };

    static std::mutex &registry_mutex() {
        static std::mutex m;
        return m;
    }
    static std::map<HWND, Entry> &registry() {
        static std::map<HWND, Entry> r;
        return r;
    }

    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        Entry e{};
        {
            std::lock_guard<std::mutex> lock(registry_mutex());
            auto it = registry().find(h);
            if (it == registry().end()) return DefWindowProcA(h, msg, wp, lp);
            e = it->second;
        }
        if (e.spy) {
            std::lock_guard<std::mutex> lock(e.spy->mutex_);
            e.spy->calls_.push_back(Call{h, msg, GetCurrentThreadId()});
        }
        if (e.hook) e.hook(h, msg, wp, lp);
        return CallWindowProcA(e.original, h, msg, wp, lp);
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};
