#pragma once
// CHttpMgr: the scheduler of one engine. Keeps the engine's tasks in
// submission order (not owned), starts them while fewer than the maximum
// run, delays retries, and routes transfer notifications to the owning task.
// Main thread only.
#include <cstdint>
#include <vector>

#include "Http/CurlListener.h"
#include "Runtime/RetryPolicy.h"

class CCurlWorkshop;
class CHttpBase;

class CHttpMgr : public CurlListener {
public:
    static constexpr int32_t kDefaultMaxRunning = 10;
    static constexpr uint32_t kRetryDelayMs = kv::retry::kTransferRetryDelayMs;  // one engine tick

    explicit CHttpMgr(CCurlWorkshop* worker, int32_t maxRunning = kDefaultMaxRunning);
    ~CHttpMgr() override;

    void OnTransferDone(const CRefPtr<CCurlBase>& transfer, CURLcode result) override;
    void OnBytesReceived(const CRefPtr<CCurlBase>& transfer, uint32_t count) override;
    void OnBytesSent(const CRefPtr<CCurlBase>& transfer, uint32_t count) override;
    void OnHttpStatus(const CRefPtr<CCurlBase>& transfer, int32_t status) override;

    // Lists the task (once) and schedules; returns (identifier << 32 | submission tick).
    virtual uint64_t AddTask(CHttpBase* task);
    // Takes every occurrence of the task out; frees its running slot. Always true.
    virtual bool RemoveTask(CHttpBase* task);

    void Schedule();
    // Every engine tick: ends the retry delays older than the retry delay.
    void RetryTick();
    // The engines keep it equal to their tick (kRetryDelayMs by default).
    void SetRetryDelayMs(uint32_t delayMs) { retryDelayMs_ = delayMs; }
    // Every 1000 ms while the engine tick runs (download engine): OnTick of
    // every started task.
    void ProgressTick();
    // Engine shutdown: forgets every task and unbinds it from this engine.
    void ClearTasks();

    CCurlWorkshop* Worker() const { return worker_; }
    int32_t RunningCount() const { return running_; }
    int32_t MaxRunning() const { return maxRunning_; }
    size_t TaskCount() const { return tasks_.size(); }
    bool HasRetryPending() const;
    CHttpBase* FindTask(const CCurlBase* transfer) const;

private:
    std::vector<CHttpBase*> tasks_;
    int32_t maxRunning_;
    int32_t running_ = 0;
    CCurlWorkshop* worker_;
    uint32_t retryDelayMs_ = kRetryDelayMs;
};

// Binds the task to the scheduler (and its worker) and adds it; false when
// there is no scheduler.
bool AttachToManager(CHttpMgr* scheduler, CHttpBase* task);
