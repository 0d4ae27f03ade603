#include "Runtime/SimpleThread.h"
#include "Runtime/Log.h"

#include <process.h>

namespace {
const wchar_t kLogFile[] = L".\\Runtime\\SimpleThread";
}

// A derived object must be stopped by its owner before it goes; this only
// releases a handle left behind by a thread that already ended.
CSimpleThread::~CSimpleThread() = default;

bool CSimpleThread::StartThread() {
    if (IsRunning()) return true;
    stopRequested.store(false, std::memory_order_release);

    // The lock is held across _beginthreadex so that a thread which ends at
    // once cannot run its handle release before the handle is stored.
    CScopedLock guard(handleLock_);
    threadId_ = 0;
    unsigned id = 0;
    const uintptr_t h = _beginthreadex(nullptr, 0, &CSimpleThread::ThreadProc, this, 0, &id);
    threadHandle_.reset(reinterpret_cast<HANDLE>(h));
    threadId_ = h ? id : 0;
    return threadHandle_.valid();
}

unsigned __stdcall CSimpleThread::ThreadProc(void* argument) {
    if (auto* self = static_cast<CSimpleThread*>(argument)) {
        self->Run();
        CScopedLock guard(self->handleLock_);
        self->threadHandle_.reset();
        self->threadId_ = 0;
    }
    _endthreadex(0);
    return 0;
}

bool CSimpleThread::IsRunning() {
    CScopedLock guard(handleLock_);
    if (!threadHandle_) return false;
    DWORD code = 0;
    if (!::GetExitCodeThread(threadHandle_.get(), &code) || code != STILL_ACTIVE) {
        threadHandle_.reset();
        return false;
    }
    return true;
}

bool CSimpleThread::StopThread(DWORD timeoutMs) {
    if (!IsRunning()) return true;
    stopRequested.store(true, std::memory_order_release);
    if (JoinThread(timeoutMs)) return true;
    KV_LOG(kToConsole | kToFile, Error, L"CSimpleThread::StopThread线程结束超时 tid:%d ", static_cast<int>(threadId_.load()));
    return false;
}

kv::UniqueKernelHandle CSimpleThread::DuplicateThreadHandle() const {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), threadHandle_.get(), ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        copy = nullptr;
    }
    return kv::UniqueKernelHandle(copy);
}

bool CSimpleThread::JoinThread(DWORD timeoutMs) {
    kv::UniqueKernelHandle waitHandle;
    {
        CScopedLock guard(handleLock_);
        if (!threadHandle_) return true;
        if (::GetCurrentThreadId() == threadId_) return false;  // a thread cannot wait for itself
        // A private duplicate: the worker may close the shared handle at its end.
        waitHandle = DuplicateThreadHandle();
        if (!waitHandle) return false;
    }
    const bool ended = ::WaitForSingleObject(waitHandle.get(), timeoutMs) == WAIT_OBJECT_0;
    return ended || !IsRunning();
}
