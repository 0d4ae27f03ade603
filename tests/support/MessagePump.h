#pragma once
// Waiting in tests on a condition, never on the clock alone: the calling
// thread's message loop runs meanwhile (posted main-thread tasks and timers
// fire), or, for SpinUntil, does not (notifications stay queued). Each wait
// has a bound and returns whether the condition came true.
#include <windows.h>

#include <functional>

// Runs `step` between checks of `done` until it holds or `timeoutMs` passed.
bool PollUntil(const std::function<bool()>& done, DWORD timeoutMs, const std::function<void()>& step);
// Pumps messages until `done` returns true or `timeoutMs` passes; returns done().
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Waits without pumping messages.
bool SpinUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Whether the thread has ended (or is unknown) within the time.
bool ThreadEnded(DWORD threadId, DWORD timeoutMs);
// Dispatches every message already queued for this thread.
void DispatchPendingMessages();
// Pumps messages until every main-thread task posted so far has run (a
// marker posted behind them has); main thread.
bool RunQueuedMainThreadTasks(DWORD timeoutMs = 5000);
// Pumps messages for the given time: only where the time itself is what a
// test varies.
void PumpMessagesFor(DWORD ms);
