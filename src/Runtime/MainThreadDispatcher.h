#pragma once
// The main-thread task dispatcher: a queue drained by a hidden message-only
// window ("ThreadingWindowClass") when it receives the registered message
// "com.korvel.MainThreadFired", and delayed tasks run by one timer of that
// window, armed for the earliest due task only while there is one.
// Init/Run/Shutdown: main thread only; posting (MainThreadTask.h): any thread.
#include <windows.h>

#include "Runtime/MainThreadTask.h"

// Creates the queue, the hidden window and the message id. Does nothing when
// the window already exists. Remembers the calling thread as the main thread.
void InitMainThreadDispatcher();

// Runs queued tasks in posting order for about 50 ms, then re-posts the
// wake-up and returns so that other window messages get their turn.
void RunMainThreadTasks();

// Releases every queued and delayed task without running it and destroys
// the window.
void ShutdownMainThreadDispatcher();

bool IsMainThread();
HWND GetMainThreadDispatcherWindow();
UINT GetMainThreadFiredMessage();

// Test seam: replaces PostMessageW for the wake-up message (null restores it).
using WakeupPoster = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
void SetWakeupPosterForTesting(WakeupPoster poster);
