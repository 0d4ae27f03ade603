#include "Http/PieceCheckThread.h"

#include <windows.h>

#include "Runtime/Handles.h"
#include "Runtime/MainThreadTask.h"

void CPieceCheckThread::Run() {
    {
        // Shares writing: the sinks open the file only after this answer.
        const kv::UniqueKernelHandle file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        opened_ = file.valid();
        if (opened_) needed_ = pieces_->Recheck(file.get(), missing_, trustWritten_, trustedBelow_, &stopRequested);
    }
    // The results are written before the post, which orders them for the
    // main thread; a stopped check's answer finds its token dropped.
    if (!IsStopRequested()) PostToMainThread(done_, token_);
}
