#include "support/MessagePump.h"

#include <algorithm>

#include "Runtime/Handles.h"
#include "Runtime/MainThreadTask.h"

namespace {
void MarkRun(bool* ran, int) { *ran = true; }
}  // namespace

bool PollUntil(const std::function<bool()>& done, DWORD timeoutMs, const std::function<void()>& step) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        if (::GetTickCount64() >= deadline) return done();
        step();
    }
    return true;
}

void DispatchPendingMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    return PollUntil(done, timeoutMs, [deadline] {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(now < deadline ? deadline - now : 0, 10));
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
        DispatchPendingMessages();
    });
}

bool RunQueuedMainThreadTasks(DWORD timeoutMs) {
    bool ran = false;
    PostToMainThread(MarkRun, &ran, 0);
    return PumpMessagesUntil([&ran] { return ran; }, timeoutMs);
}

bool SpinUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    return PollUntil(done, timeoutMs, [] { ::Sleep(1); });
}

bool ThreadEnded(DWORD threadId, DWORD timeoutMs) {
    const kv::UniqueKernelHandle thread(::OpenThread(SYNCHRONIZE, FALSE, threadId));
    return !thread || ::WaitForSingleObject(thread.get(), timeoutMs) == WAIT_OBJECT_0;
}

void PumpMessagesFor(DWORD ms) {
    PumpMessagesUntil([] { return false; }, ms);
}
