#pragma once
// CCurlWorkshop: the worker thread of one HTTP engine. It owns a libcurl multi
// handle and drives every transfer of the engine; the main thread only queues
// transfers for adding and removal, which the worker applies at the start of
// each pass. Between passes the worker sleeps in curl_multi_poll until a
// socket is ready, libcurl's next timer is due, or the main thread wakes it.
// Init/AddTransfer/RemoveTransfer/Uninit: main thread; Run and the steps it
// calls: worker thread; Wake: any thread. One lock guards the lists; the worker never
// holds it across a libcurl call, so the main thread never waits on libcurl.
#include <curl/curl.h>

#include <deque>
#include <functional>
#include <utility>

#include "Http/CurlBase.h"
#include "Http/CurlHandles.h"
#include "Runtime/Lock.h"
#include "Runtime/RefCounted.h"
#include "Runtime/SimpleThread.h"

class CCurlWorkshop : public CSimpleThread {
public:
    CCurlWorkshop();
    ~CCurlWorkshop() override;

    void Init();
    bool AddTransfer(const CRefPtr<CCurlBase>& transfer);
    bool RemoveTransfer(const CRefPtr<CCurlBase>& transfer);
    // Drops every transfer without notifying anyone. Only after the thread stopped.
    void Uninit();

    void Run() override;
    // Wakes the worker at once, so that the stop is seen without waiting out
    // its sleep.
    bool StopThread(DWORD timeoutMs) override;
    // Ends the worker's current or next wait, so that a transfer that was
    // cancelled (no longer alive) leaves on the pass that follows at once.
    void Wake();

    // Worker steps (public for tests; normally only Run calls them): apply
    // the queued requests and drive the transfers, without waiting; report
    // the finished ones; sleep until there is something to do (bounded).
    bool PumpOnce();
    int CollectFinished();
    void WaitForWork();

    // For tests: the list sizes, and the lock (held, it keeps the worker from
    // applying queued requests).
    size_t PendingAddCount();
    size_t RunningCount();
    size_t PendingRemoveCount();
    CLock& LockForTesting() { return lock_; }
    // For tests: the longest sleep between passes (a lost wake-up then shows
    // as a transfer that never ends instead of one that is late).
    void SetMaxWaitForTesting(int ms) { maxWaitMs_ = ms; }
    // For tests: runs on the worker just before a running transfer's easy
    // handle is removed, where libcurl may block (it waits for a name lookup
    // in progress).
    void SetTeardownHookForTesting(std::function<void()> hook) {
        CScopedLock lock(lock_);
        teardownHook_ = std::move(hook);
    }

private:
    using TransferList = std::deque<CRefPtr<CCurlBase>>;

    void ApplyPending();
    bool Detach(const CRefPtr<CCurlBase>& transfer);
    // A transfer that could not reach its proxy starts again with the
    // route's next one; false when it has none.
    bool Reroute(const CRefPtr<CCurlBase>& transfer, CURLcode result);

    kv::UniqueCurlMulti multi_;
    TransferList pendingAdd_;
    TransferList running_;
    TransferList pendingRemove_;
    CLock lock_;
    std::function<void()> teardownHook_;  // guarded by lock_
    int maxWaitMs_;
    bool pollFailing_ = false;  // worker thread
    bool routeWaiting_ = false;  // worker thread: a queued transfer waits for its proxy
};
