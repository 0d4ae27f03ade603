#pragma once
// Tasks for the main thread: any callable, or a function with copies of its
// arguments. PostToMainThread() may be called from any thread; the task runs
// later on the main thread, in posting order. Delayed tasks (main thread
// only) run once their delay has passed, unless cancelled first.
#include <cstdint>
#include <functional>
#include <utility>

using MainThreadTask = std::function<void()>;

// Queues the task for the main thread. Any thread.
void PostMainThreadTask(MainThreadTask task);

// fn(args...) on the main thread, with copies of the arguments made now.
template <typename Fn, typename... Args>
void PostToMainThread(Fn&& fn, Args&&... args) {
    PostMainThreadTask(std::bind(std::forward<Fn>(fn), std::forward<Args>(args)...));
}

// Identifies a delayed task; 0 is none.
using TaskId = uint64_t;

// Runs the task on the main thread once `delayMs` have passed (tasks due at
// the same time in posting order). Main thread only.
TaskId PostDelayedTask(uint32_t delayMs, MainThreadTask task);
// Drops a delayed task that has not run yet; false when it is not pending
// (0, already run or cancelled). Main thread only.
bool CancelTask(TaskId id);
