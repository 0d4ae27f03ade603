#pragma once
// CCurlWorkshop: the worker thread of one HTTP engine. It owns a libcurl multi
// handle and drives every transfer of the engine; the main thread only queues
// transfers for adding and removal, which the worker applies at the start of
// each pass. Init/AddTransfer/RemoveTransfer/Uninit: main thread; Run and the
// steps it calls: worker thread. One lock guards the multi handle and the lists.
#include <curl/curl.h>

#include <deque>

#include "Http/CurlBase.h"
#include "Http/CurlHandles.h"
#include "Runtime/Lock.h"
#include "Runtime/RefCounted.h"
#include "Runtime/SimpleThread.h"

class CCurlWorkshop : public CSimpleThread {
public:
    CCurlWorkshop() = default;
    ~CCurlWorkshop() override;

    void Init();
    bool AddTransfer(const CRefPtr<CCurlBase>& transfer);
    bool RemoveTransfer(const CRefPtr<CCurlBase>& transfer);
    // Drops every transfer without notifying anyone. Only after the thread stopped.
    void Uninit();

    void Run() override;

    // Worker steps (public for tests; normally only Run calls them).
    bool PumpOnce();
    int CollectFinished();

    // For tests: the list sizes, and the lock (held, it keeps the worker from
    // applying queued requests).
    size_t PendingAddCount();
    size_t RunningCount();
    size_t PendingRemoveCount();
    CLock& LockForTesting() { return lock_; }

private:
    using TransferList = std::deque<CRefPtr<CCurlBase>>;

    void ApplyPending();
    bool Detach(const CRefPtr<CCurlBase>& transfer);
    void WaitOnSockets();

    kv::UniqueCurlMulti multi_;
    // Signalled when the main thread queues work, so that an idle worker
    // wakes at once instead of at the end of its 1 ms pause.
    kv::UniqueKernelHandle wakeEvent_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    TransferList pendingAdd_;
    TransferList running_;
    TransferList pendingRemove_;
    CLock lock_;
};
