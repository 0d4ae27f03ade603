#pragma once
// CHttpBase: what a scheduler knows of a piece of HTTP work: a URL, the
// transfer of the current attempt (a new one for each attempt), the start/stop
// protocol towards the worker, retry settings and the record of the attempt
// that gives the final (error type, code). Derived tasks create the transfer
// in Start() and classify in Done(). Owned by its caller. Main thread only.
#include <cstdint>
#include <string>

#include "Http/CurlHttp.h"
#include "Http/HttpResult.h"
#include "Http/HttpTimeouts.h"
#include "Runtime/RefCounted.h"
#include "Runtime/RetryPolicy.h"

class CCurlBase;
class CCurlWorkshop;
class CHttpMgr;

class CHttpBase {
public:
    static constexpr int32_t kDefaultMaxRetries = kv::retry::kTransferRetries;

    CHttpBase() = default;
    CHttpBase(const CHttpBase&) = delete;
    CHttpBase& operator=(const CHttpBase&) = delete;

    virtual const std::wstring& GetUrl() const { return url_; }
    // Stops the task first (transfer cancelled, task out of its scheduler).
    virtual ~CHttpBase();
    // Configures the current transfer's easy handle from the task's settings.
    virtual bool SetupTransfer();
    // Raises the attempt count, empties the attempt's record (each attempt
    // is classified from its own entries), configures the transfer and hands
    // it to the worker. False when already started.
    virtual bool Start();
    // Cancels: the transfer is removed from the worker and released, the task
    // leaves its scheduler; no completion follows. Always true.
    virtual bool Stop();
    virtual void Done(int32_t curlResult) = 0;
    virtual void OnHttpStatus(int32_t status) = 0;
    // Once a second for started tasks of the download engine.
    virtual void OnTick() {}
    // Byte counts of transfers whose report-progress flag is set.
    virtual void OnBytesReceived(uint32_t /*count*/) {}

    // The transfer of the current attempt (null between attempts).
    CCurlHttp* Transfer() const { return transfer_.get(); }
    bool OwnsTransfer(const CCurlBase* transfer) const;

    void SetUrl(const std::wstring& url) { url_ = url; }
    int32_t Method() const { return method_; }
    void SetMethod(int32_t method) { method_ = method; }
    int32_t MaxRetries() const { return maxRetries_; }
    void SetMaxRetries(int32_t retries) { maxRetries_ = retries; }
    // The time limits of this task's attempts (HttpTimeouts' defaults).
    const HttpTimeouts& Timeouts() const { return timeouts_; }
    void SetTimeouts(const HttpTimeouts& timeouts) { timeouts_ = timeouts; }
    int32_t ConnectTimeoutSec() const { return timeouts_.connectSec; }
    void SetConnectTimeoutSec(int32_t seconds) { timeouts_.connectSec = seconds; }
    uint64_t ResumeOffset() const { return resumeOffset_; }
    void SetResumeOffset(uint64_t offset) { resumeOffset_ = offset; }
    int32_t AttemptCount() const { return attemptCount_; }
    void SetAttemptCount(int32_t count) { attemptCount_ = count; }
    bool IsStarted() const { return started_; }
    // What the current (or last) attempt has met so far.
    const AttemptResult& Attempt() const { return attempt_; }

    // Scheduler bookkeeping (CHttpMgr).
    CHttpMgr* Scheduler() const { return scheduler_; }
    CCurlWorkshop* Worker() const { return worker_; }
    void BindToEngine(CHttpMgr* scheduler, CCurlWorkshop* worker) {
        scheduler_ = scheduler;
        worker_ = worker;
    }
    bool IsRunning() const { return running_; }
    void SetRunning(bool running) { running_ = running; }
    int32_t Id() const { return id_; }
    uint32_t SubmitTick() const { return submitTick_; }
    void SetSubmission(int32_t id, uint32_t tick) {
        id_ = id;
        submitTick_ = tick;
    }
    bool IsRetryPending() const { return retryPending_; }
    void SetRetryPending(bool pending) { retryPending_ = pending; }
    uint32_t RetryTick() const { return retryTick_; }
    // Marks a retry as requested now; the scheduler starts it 500-1000 ms later.
    void RequestRetryDelay();

protected:
    // Takes a new transfer for this attempt (after releasing the old one).
    void SetTransfer(CCurlHttp* transfer);
    // Cancels and drops the current transfer: alive cleared, streams closed.
    // What the sink kept past its close (a failed write, open or reset) and
    // what the transfer refused (a web page) go to the attempt's record,
    // where they outrank the write error that they made libcurl end with.
    void ReleaseTransfer();
    void RecordResult(const HttpResult& result) { attempt_.Record(result); }
    // The attempt's pair (AttemptResult::Result), the record emptied.
    HttpResult TakeResult();

private:
    CRefPtr<CCurlHttp> transfer_;
    CHttpMgr* scheduler_ = nullptr;
    CCurlWorkshop* worker_ = nullptr;
    bool started_ = false;
    std::wstring url_;
    int32_t id_ = 0;
    uint32_t submitTick_ = 0;
    int32_t method_ = CCurlHttp::kMethodGet;
    uint64_t resumeOffset_ = 0;
    int32_t attemptCount_ = 0;
    bool running_ = false;
    AttemptResult attempt_;
    int32_t maxRetries_ = kDefaultMaxRetries;
    HttpTimeouts timeouts_;
    bool retryPending_ = false;
    uint32_t retryTick_ = 0;
};
