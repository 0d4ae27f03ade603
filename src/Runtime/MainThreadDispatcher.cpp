#include "Runtime/MainThreadDispatcher.h"

#include <deque>
#include <map>

#include "Runtime/Lock.h"
#include "Runtime/MonotonicClock.h"

namespace {

constexpr wchar_t kWindowClass[] = L"ThreadingWindowClass";
constexpr wchar_t kFiredMessage[] = L"com.korvel.MainThreadFired";
constexpr double kSliceSeconds = 0.05;
// The window timer that runs delayed tasks.
constexpr UINT_PTR kDelayTimerId = 1;
// After a wake-up that PostMessageW could not deliver (a full message
// queue), a one-shot timer of the system's pool tries again after this wait.
constexpr DWORD kRecoveryDelayMs = 250;

struct DispatcherState {
    CLock lock;
    std::deque<MainThreadTask> queue;
    // True while a wake-up message is on its way and not yet received: the
    // posters of a burst then add no further message. Cleared when the
    // message arrives (before any task runs, so that a task that runs a
    // nested message loop still gets tasks posted meanwhile) and when a post
    // fails, so the next poster retries.
    bool wakePending = false;
    HANDLE recoveryTimer = nullptr;  // the pending one-shot retry of a failed wake-up
    HWND window = nullptr;
    UINT firedMessage = 0;
    DWORD mainThreadId = 0;
    WakeupPoster poster = ::PostMessageW;
    // Main thread only: delayed tasks by (due tick, id), so equal due ticks
    // keep posting order.
    std::map<std::pair<ULONGLONG, TaskId>, MainThreadTask> delayed;
    TaskId lastDelayedId = 0;
};

DispatcherState& State() {
    static DispatcherState state;
    return state;
}

void CALLBACK RetryWakeup(PVOID, BOOLEAN);

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
    if (window && !s.recoveryTimer) {
        ::CreateTimerQueueTimer(&s.recoveryTimer, nullptr, RetryWakeup, nullptr, kRecoveryDelayMs, 0,
                                WT_EXECUTEONLYONCE);
    }
}

// Sets the wake-up on its way unless one is already; false when none is needed.
bool ClaimWakeup(DispatcherState& s) {
    const bool wake = !s.queue.empty() && s.window != nullptr && !s.wakePending;
    if (wake) s.wakePending = true;
    return wake;
}

void CALLBACK RetryWakeup(PVOID, BOOLEAN) {
    DispatcherState& s = State();
    HANDLE timer;
    bool wake;
    {
        CScopedLock guard(s.lock);
        timer = s.recoveryTimer;
        s.recoveryTimer = nullptr;
        wake = ClaimWakeup(s);
    }
    if (timer) ::DeleteTimerQueueTimer(nullptr, timer, nullptr);
    if (wake) PostWakeup();
}

// Arms the delay timer for the earliest delayed task, or stops it when none is left.
void ArmDelayTimer() {
    DispatcherState& s = State();
    if (!s.window) return;
    if (s.delayed.empty()) {
        ::KillTimer(s.window, kDelayTimerId);
        return;
    }
    const ULONGLONG due = s.delayed.begin()->first.first, now = ::GetTickCount64();
    ::SetTimer(s.window, kDelayTimerId, due > now ? static_cast<UINT>(due - now) : USER_TIMER_MINIMUM, nullptr);
}

void RunDueDelayedTasks() {
    DispatcherState& s = State();
    for (;;) {
        const auto first = s.delayed.begin();
        if (first == s.delayed.end() || first->first.first > ::GetTickCount64()) break;
        MainThreadTask task = std::move(first->second);
        s.delayed.erase(first);
        // Re-armed before the task runs: a nested message loop in it still
        // runs the tasks that fall due meanwhile.
        ArmDelayTimer();
        task();
    }
    ArmDelayTimer();
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
    if (msg == WM_TIMER && wp == kDelayTimerId) {
        RunDueDelayedTasks();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

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
    bool wake;
    {
        CScopedLock guard(s.lock);
        s.window = window;
        // Tasks may have been queued before a re-initialisation.
        wake = ClaimWakeup(s);
    }
    if (wake) PostWakeup();
    ArmDelayTimer();  // delayed tasks posted while there was no window
}

void PostMainThreadTask(MainThreadTask task) {
    DispatcherState& s = State();
    bool wake;
    {
        CScopedLock guard(s.lock);
        s.queue.push_back(std::move(task));
        wake = ClaimWakeup(s);
    }
    if (wake) PostWakeup();
}

TaskId PostDelayedTask(uint32_t delayMs, MainThreadTask task) {
    DispatcherState& s = State();
    const TaskId id = ++s.lastDelayedId;
    s.delayed.emplace(std::make_pair(::GetTickCount64() + delayMs, id), std::move(task));
    ArmDelayTimer();
    return id;
}

bool CancelTask(TaskId id) {
    DispatcherState& s = State();
    for (auto it = s.delayed.begin(); it != s.delayed.end(); ++it) {
        if (it->first.second != id) continue;
        s.delayed.erase(it);
        ArmDelayTimer();
        return true;
    }
    return false;
}

void RunMainThreadTasks() {
    DispatcherState& s = State();
    const double start = GetMonotonicTime();
    for (;;) {
        MainThreadTask task;
        {
            CScopedLock guard(s.lock);
            // An empty queue leaves the flag alone: a wake-up posted while
            // the last task ran is still on its way.
            if (s.queue.empty()) return;
            task = std::move(s.queue.front());
            s.queue.pop_front();
        }
        // No lock while the task runs: it may post further tasks.
        task();
        task = nullptr;  // its bound arguments go before the next task runs

        if (GetMonotonicTime() - start > kSliceSeconds) {
            bool wake;
            {
                CScopedLock guard(s.lock);
                wake = ClaimWakeup(s);
            }
            if (wake) PostWakeup();
            return;
        }
    }
}

void ShutdownMainThreadDispatcher() {
    DispatcherState& s = State();
    // Delayed tasks go first: releasing one may post (it runs nothing).
    std::map<std::pair<ULONGLONG, TaskId>, MainThreadTask>().swap(s.delayed);
    HANDLE recovery;
    {
        CScopedLock guard(s.lock);
        // Release from the back to the front, without running anything.
        while (!s.queue.empty()) s.queue.pop_back();
        std::deque<MainThreadTask>().swap(s.queue);
        s.wakePending = false;
        recovery = s.recoveryTimer;
        s.recoveryTimer = nullptr;
        if (s.window) {
            ::KillTimer(s.window, kDelayTimerId);
            ::DestroyWindow(s.window);
            s.window = nullptr;
        }
    }
    if (recovery) ::DeleteTimerQueueTimer(nullptr, recovery, nullptr);
}

bool IsMainThread() { return State().mainThreadId == ::GetCurrentThreadId(); }
HWND GetMainThreadDispatcherWindow() { return State().window; }
UINT GetMainThreadFiredMessage() { return State().firedMessage; }

void SetWakeupPosterForTesting(WakeupPoster poster) {
    CScopedLock guard(State().lock);
    State().poster = poster ? poster : ::PostMessageW;
}
