#include "Runtime/MainThreadDispatcher.h"

#include <deque>

#include "Runtime/Lock.h"
#include "Runtime/MonotonicClock.h"

namespace {

constexpr wchar_t kWindowClass[] = L"ThreadingWindowClass";
constexpr wchar_t kFiredMessage[] = L"com.korvel.MainThreadFired";
constexpr double kSliceSeconds = 0.05;
// Backstop for a wake-up that PostMessageW could not deliver (a full message
// queue): queued tasks still run within this period.
constexpr UINT_PTR kRecoveryTimerId = 1;
constexpr UINT kRecoveryPeriodMs = 250;

struct QueueEntry {
    MainThreadCallback callback;
    CRefPtr<MainThreadTaskBase> task;
};

struct DispatcherState {
    CLock lock;
    std::deque<QueueEntry> queue;
    // True while a wake-up message is on its way and not yet received: the
    // posters of a burst then add no further message. Cleared when the
    // message arrives (before any task runs, so that a task that runs a
    // nested message loop still gets tasks posted meanwhile) and when a post
    // fails, so the next poster retries.
    bool wakePending = false;
    HWND window = nullptr;
    UINT firedMessage = 0;
    DWORD mainThreadId = 0;
    WakeupPoster poster = ::PostMessageW;
};

DispatcherState& State() {
    static DispatcherState state;
    return state;
}

// Posts the wake-up. Called without the lock.
void PostWakeup() {
    DispatcherState& s = State();
    HWND window;
    WakeupPoster poster;
    UINT message;
    {
        CScopedLock guard(s.lock);
        window = s.window;
        poster = s.poster;
        message = s.firedMessage;
    }
    if (window && poster(window, message, 0, 0)) return;
    CScopedLock guard(s.lock);
    s.wakePending = false;
}

LRESULT CALLBACK DispatcherWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DispatcherState& s = State();
    if (msg != 0 && msg == s.firedMessage) {
        {
            CScopedLock guard(s.lock);
            s.wakePending = false;  // this is the awaited wake-up
        }
        RunMainThreadTasks();
        return 0;
    }
    if (msg == WM_TIMER && wp == kRecoveryTimerId) {
        bool stranded;
        {
            CScopedLock guard(s.lock);
            stranded = !s.queue.empty() && !s.wakePending;
        }
        if (stranded) RunMainThreadTasks();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void RunTaskCallback(CRefPtr<MainThreadTaskBase>* task) {
    if (task && *task) (*task)->Run();
}

void InitMainThreadDispatcher() {
    DispatcherState& s = State();
    if (s.window) return;
    s.mainThreadId = ::GetCurrentThreadId();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = DispatcherWndProc;
    wc.lpszClassName = kWindowClass;
    ::RegisterClassW(&wc);  // fails harmlessly when registered by an earlier Init

    s.firedMessage = ::RegisterWindowMessageW(kFiredMessage);
    HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ::SetTimer(window, kRecoveryTimerId, kRecoveryPeriodMs, nullptr);
    bool wake;
    {
        CScopedLock guard(s.lock);
        s.window = window;
        // Tasks may have been queued before a re-initialisation.
        wake = !s.queue.empty() && !s.wakePending;
        if (wake) s.wakePending = true;
    }
    if (wake) PostWakeup();
}

void PostMainThreadTask(MainThreadCallback callback, const CRefPtr<MainThreadTaskBase>& task) {
    DispatcherState& s = State();
    bool wake;
    {
        CScopedLock guard(s.lock);
        s.queue.push_back(QueueEntry{callback, task});
        wake = !s.wakePending && s.window != nullptr;
        if (wake) s.wakePending = true;
    }
    if (wake) PostWakeup();
}

void RunMainThreadTasks() {
    DispatcherState& s = State();
    const double start = GetMonotonicTime();
    CRefPtr<MainThreadTaskBase> task;
    for (;;) {
        MainThreadCallback callback;
        {
            CScopedLock guard(s.lock);
            // An empty queue leaves the flag alone: a wake-up posted while
            // the last task ran is still on its way.
            if (s.queue.empty()) return;
            callback = s.queue.front().callback;
            task = s.queue.front().task;
            s.queue.pop_front();
        }
        // No lock while the task runs: it may post further tasks.
        callback(&task);

        if (GetMonotonicTime() - start > kSliceSeconds) {
            bool wake;
            {
                CScopedLock guard(s.lock);
                wake = !s.queue.empty() && s.window != nullptr && !s.wakePending;
                if (wake) s.wakePending = true;
            }
            if (wake) PostWakeup();
            return;
        }
    }
}

void ShutdownMainThreadDispatcher() {
    DispatcherState& s = State();
    CScopedLock guard(s.lock);
    // Release from the back to the front, without running anything.
    while (!s.queue.empty()) s.queue.pop_back();
    std::deque<QueueEntry>().swap(s.queue);
    s.wakePending = false;
    if (s.window) {
        ::KillTimer(s.window, kRecoveryTimerId);
        ::DestroyWindow(s.window);
        s.window = nullptr;
    }
}

bool IsMainThread() { return State().mainThreadId == ::GetCurrentThreadId(); }
HWND GetMainThreadDispatcherWindow() { return State().window; }
UINT GetMainThreadFiredMessage() { return State().firedMessage; }

void SetWakeupPosterForTesting(WakeupPoster poster) {
    CScopedLock guard(State().lock);
    State().poster = poster ? poster : ::PostMessageW;
}
