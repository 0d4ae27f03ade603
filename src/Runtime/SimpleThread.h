#pragma once
// Base of the worker threads. The owner starts it and stops it cooperatively:
// StopThread() raises stopRequested, which Run() watches, then waits a bounded
// time for the thread to end. A thread is never terminated: every Run() ends
// by itself. Start/Stop: owner thread.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "Runtime/Handles.h"
#include "Runtime/Lock.h"

class CSimpleThread {
public:
    CSimpleThread() = default;
    virtual ~CSimpleThread();
    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;

    // True when no thread runs any more; false (logged) when it has not
    // ended within timeoutMs, and it is left to end by itself.
    virtual bool StopThread(DWORD timeoutMs);
    virtual bool StartThread();
    virtual void Run() = 0;

    bool IsRunning();
    // Waits at most timeoutMs for the thread to end by itself and never
    // terminates it; true when no thread runs any more.
    bool JoinThread(DWORD timeoutMs);
    DWORD GetThreadId() const { return threadId_.load(); }
    bool IsStopRequested() const { return stopRequested.load(std::memory_order_acquire); }

protected:
    std::atomic<bool> stopRequested{false};

private:
    static unsigned __stdcall ThreadProc(void* argument);
    // A private copy of the thread's handle (empty on failure); under handleLock_.
    kv::UniqueKernelHandle DuplicateThreadHandle() const;

    // Guards threadHandle_/threadId_, which both the owner and the worker (at
    // its very end) release: whoever comes first closes the handle, once.
    CLock handleLock_;
    kv::UniqueKernelHandle threadHandle_;
    std::atomic<DWORD> threadId_{0};
};
