#include "Http/ControlSaveThread.h"

#include <windows.h>

#include "Runtime/Log.h"

namespace {
const wchar_t kLogFile[] = L".\\Http\\SegmentedDownload";
}  // namespace

void CControlSaveThread::Cancel() {
    CScopedLock lock(lock_);
    cancelled_ = true;
}

void CControlSaveThread::Run() {
    // After a power cut a control file ahead of the data would call zeros
    // written: when the data cannot be flushed, the older state stays.
    const bool flushed = ::FlushFileBuffers(file_->handle.get()) != FALSE;
    const DWORD error = ::GetLastError();
    // The owner closes the file only after this thread has ended or let go.
    file_.reset();
    if (!flushed) {
        KV_LOG(kToFile, Error, L"CSegmentedDownload flushing the file failed %s err:%d", controlPath_.c_str(),
               static_cast<int>(error));
        return;
    }
    CScopedLock lock(lock_);
    if (cancelled_) return;
    saved_ = CRangeControlFile::Save(controlPath_, state_);
    if (!saved_) {
        KV_LOG(kToFile, Error, L"CSegmentedDownload 控制文件写入失败 %s err:%d", controlPath_.c_str(),
               static_cast<int>(::GetLastError()));
    }
}
