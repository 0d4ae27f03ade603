#include "Runtime/SimpleThread.h"

#include <process.h>

#include "Runtime/LogSinks.h"

namespace {
const wchar_t kLogFile[] = L".\\Runtime\\SimpleThread";
}

CSimpleThread::~CSimpleThread() {
    // A derived object must be stopped by its owner before it goes; this only
    // releases a handle left behind by a thread that already ended.
    CScopedLock guard(handleLock_);
    if (threadHandle_) ::CloseHandle(threadHandle_);
    threadHandle_ = nullptr;
}

bool CSimpleThread::StartThread() {
    if (IsRunning()) return true;
    stopRequested.store(false, std::memory_order_release);

    // The lock is held across _beginthreadex so that a thread which ends at
    // once cannot run its handle release before the handle is stored.
    CScopedLock guard(handleLock_);
    if (threadHandle_) ::CloseHandle(threadHandle_);
    threadHandle_ = nullptr;
    threadId_ = 0;
    unsigned id = 0;
    const uintptr_t h = _beginthreadex(nullptr, 0, &CSimpleThread::ThreadProc, this, 0, &id);
    threadHandle_ = reinterpret_cast<HANDLE>(h);
    threadId_ = h ? id : 0;
    return threadHandle_ != nullptr;
}

unsigned __stdcall CSimpleThread::ThreadProc(void* argument) {
    if (auto* self = static_cast<CSimpleThread*>(argument)) {
        self->Run();
        CScopedLock guard(self->handleLock_);
        if (self->threadHandle_) ::CloseHandle(self->threadHandle_);
        self->threadHandle_ = nullptr;
        self->threadId_ = 0;
    }
    _endthreadex(0);
    return 0;
}

bool CSimpleThread::IsRunning() {
    CScopedLock guard(handleLock_);
    if (!threadHandle_) return false;
    DWORD code = 0;
    if (!::GetExitCodeThread(threadHandle_, &code) || code != STILL_ACTIVE) {
        ::CloseHandle(threadHandle_);
        threadHandle_ = nullptr;
        return false;
    }
    return true;
}

bool CSimpleThread::StopThread(DWORD timeoutMs) {
    if (!IsRunning()) return true;
    stopRequested.store(true, std::memory_order_release);
    // DestroyThread finds no handle only when the thread ended on its own
    // after the check above: that is a successful stop too.
    DestroyThread(timeoutMs);
    return true;
}

bool CSimpleThread::JoinThread(DWORD timeoutMs) {
    HANDLE waitHandle = nullptr;
    {
        CScopedLock guard(handleLock_);
        if (!threadHandle_) return true;
        if (::GetCurrentThreadId() == threadId_) return false;  // a thread cannot wait for itself
        // A private duplicate: the worker may close the shared handle at its end.
        if (!::DuplicateHandle(::GetCurrentProcess(), threadHandle_, ::GetCurrentProcess(), &waitHandle, 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            return false;
        }
    }
    const bool ended = ::WaitForSingleObject(waitHandle, timeoutMs) == WAIT_OBJECT_0;
    ::CloseHandle(waitHandle);
    return ended || !IsRunning();
}

bool CSimpleThread::DestroyThread(DWORD timeoutMs) {
    // Take a private duplicate to wait on: the worker may close the shared
    // handle at its end while we wait.
    HANDLE waitHandle = nullptr;
    DWORD id;
    {
        CScopedLock guard(handleLock_);
        if (!threadHandle_) return false;
        id = threadId_;
        ::DuplicateHandle(::GetCurrentProcess(), threadHandle_, ::GetCurrentProcess(), &waitHandle, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    }
    if (waitHandle && ::GetCurrentThreadId() != id) {
        if (::WaitForSingleObject(waitHandle, timeoutMs) == WAIT_TIMEOUT) {
            ConsoleLogger::Instance().LogAt(Error, __LINE__, kLogFile,
                                            L"CSimpleThread::DestroyThread线程结束超时 tid:%d ", static_cast<int>(id));
            FileLogger::Instance().LogAt(Error, __LINE__, kLogFile,
                                         L"CSimpleThread::DestroyThread线程结束超时 tid:%d ", static_cast<int>(id));
            ::TerminateThread(waitHandle, 0);
            ::WaitForSingleObject(waitHandle, 1000);  // termination is asynchronous
        }
    }
    if (waitHandle) ::CloseHandle(waitHandle);
    CScopedLock guard(handleLock_);
    if (threadHandle_) ::CloseHandle(threadHandle_);
    threadHandle_ = nullptr;
    threadId_ = 0;
    return true;
}
