#pragma once
// CControlSaveThread: on a worker thread, flushes the file's data to the disk
// and then writes one state of the control file (CRangeControlFile::Save),
// so that a slow disk holds up neither the window nor the transfers. A state
// is written only once the bytes it calls written are on the disk. After
// Cancel() it writes nothing. Start, Cancel and the result: owner (main)
// thread; the result once the thread has ended.
#include <atomic>
#include <string>

#include "Http/RangeControlFile.h"
#include "Http/RangeWriteFile.h"
#include "Runtime/Lock.h"
#include "Runtime/SimpleThread.h"

class CControlSaveThread final : public CSimpleThread {
public:
    CControlSaveThread(RangeWriteFile::SharedFile file, const std::wstring& controlPath,
                       const CRangeControlFile::State& state)
        : file_(std::move(file)), controlPath_(controlPath), state_(state) {}

    // From now on the control file is left alone (a save under way ends first).
    void Cancel();
    // The state, and whether it reached the control file.
    const CRangeControlFile::State& Snapshot() const { return state_; }
    bool Saved() const { return saved_.load(); }

    void Run() override;

private:
    RangeWriteFile::SharedFile file_;  // let go once flushed
    const std::wstring controlPath_;
    const CRangeControlFile::State state_;
    CLock lock_;             // keeps the check of `cancelled_` together with the save
    bool cancelled_ = false;  // under lock_
    std::atomic<bool> saved_{false};
};
