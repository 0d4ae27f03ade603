#include "Http/CurlWorkshop.h"
#include "Runtime/Log.h"

#include <algorithm>

namespace {

const wchar_t kLogFile[] = L".\\Http\\CurlWorkshop";
// The worker sleeps in curl_multi_poll until a socket is ready, libcurl's
// next timer is due or the main thread wakes it (new work, a stop). This
// bound only limits what a wake that never came could cost.
constexpr int kMaxWaitMs = 1000;
// After a failed wait (libcurl could not poll its sockets) the worker pauses
// this long instead of spinning through passes.
constexpr DWORD kPollFailurePauseMs = 50;
// While a transfer waits for its proxy (a configuration script runs on a
// thread of its own) the worker looks again this often.
constexpr int kRouteWaitMs = 50;

}  // namespace

CCurlWorkshop::CCurlWorkshop() : maxWaitMs_(kMaxWaitMs) {}

CCurlWorkshop::~CCurlWorkshop() {
    // The owner stops the thread and calls Uninit first; this is the safety net.
    StopThread(INFINITE);
    Uninit();
}

void CCurlWorkshop::Init() {
    CScopedLock lock(lock_);
    if (multi_) return;
    multi_.reset(curl_multi_init());
    KV_LOG(kToFile, Info, L"CCurlWorkshop::Init() %x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(multi_.get())));
}

bool CCurlWorkshop::AddTransfer(const CRefPtr<CCurlBase>& transfer) {
    CScopedLock lock(lock_);
    if (!multi_ || !transfer) return false;
    pendingAdd_.push_back(transfer);
    // Re-adding cancels a removal that is still queued.
    auto it = std::find(pendingRemove_.begin(), pendingRemove_.end(), transfer);
    if (it != pendingRemove_.end()) pendingRemove_.erase(it);
    Wake();
    return true;
}

bool CCurlWorkshop::RemoveTransfer(const CRefPtr<CCurlBase>& transfer) {
    CScopedLock lock(lock_);
    if (!multi_ || !transfer) return false;
    pendingRemove_.push_back(transfer);
    Wake();
    return true;
}

void CCurlWorkshop::Uninit() {
    CScopedLock lock(lock_);
    if (multi_) {
        for (auto& transfer : running_) {
            curl_multi_remove_handle(multi_.get(), transfer->EasyHandle());
            transfer->CleanupEasyHandle();
        }
        multi_.reset();
    }
    pendingRemove_.clear();
    pendingAdd_.clear();
    running_.clear();
}

void CCurlWorkshop::Run() {
    // Without a multi handle nothing can ever be added: nothing to wait for.
    if (!multi_) return;
    while (!IsStopRequested()) {
        PumpOnce();
        CollectFinished();
        if (IsStopRequested()) break;
        WaitForWork();
    }
}

bool CCurlWorkshop::StopThread(DWORD timeoutMs) {
    if (IsRunning()) {
        stopRequested.store(true, std::memory_order_release);
        Wake();
    }
    return CSimpleThread::StopThread(timeoutMs);
}

void CCurlWorkshop::Wake() {
    // Thread-safe in libcurl; multi_ is only replaced by Init and Uninit,
    // which run while the thread is not there.
    if (multi_) curl_multi_wakeup(multi_.get());
}

bool CCurlWorkshop::PumpOnce() {
    if (IsStopRequested() || !multi_) return false;
    ApplyPending();
    int runningHandles = 0;
    CURLMcode rc;
    do {
        rc = curl_multi_perform(multi_.get(), &runningHandles);
    } while (rc == CURLM_CALL_MULTI_PERFORM);
    return runningHandles > 0;
}

void CCurlWorkshop::WaitForWork() {
    if (!multi_) return;
    // A wake that comes while the worker is not waiting is kept by libcurl
    // and ends the next wait at once; the main thread queues its request
    // before it wakes, so the pass after the wait always sees it.
    const int waitMs = routeWaiting_ ? std::min(maxWaitMs_, kRouteWaitMs) : maxWaitMs_;
    const CURLMcode rc = curl_multi_poll(multi_.get(), nullptr, 0, waitMs, nullptr);
    if (rc == CURLM_OK) {
        pollFailing_ = false;
        return;
    }
    if (!pollFailing_) KV_LOG(kToFile, Error, L"CCurlWorkshop curl_multi_poll failed rc:%d", static_cast<int>(rc));
    pollFailing_ = true;
    ::Sleep(kPollFailurePauseMs);
}

void CCurlWorkshop::ApplyPending() {
    // The lists are swapped out under the lock and the libcurl calls are made
    // without it: removing an easy handle waits for libcurl's name-lookup
    // thread (seconds on a bad network), and the main thread takes this lock
    // in every Start and Stop.
    TransferList removals;
    TransferList additions;
    {
        CScopedLock lock(lock_);
        // Cancelled transfers leave even if nobody asked for their removal.
        for (auto& transfer : pendingAdd_) {
            if (!transfer->IsAlive()) pendingRemove_.push_back(transfer);
        }
        for (auto& transfer : running_) {
            if (!transfer->IsAlive()) pendingRemove_.push_back(transfer);
        }
        removals.swap(pendingRemove_);
        additions.swap(pendingAdd_);
    }
    for (const CRefPtr<CCurlBase>& transfer : removals) {
        // Removed before it ever ran: it leaves the additions, its easy handle stays.
        auto queued = std::find(additions.begin(), additions.end(), transfer);
        if (queued != additions.end()) {
            additions.erase(queued);
        } else {
            Detach(transfer);
        }
    }
    // A transfer whose proxy is not known yet waits at the front of the
    // queue, in its order.
    TransferList unrouted;
    for (const CRefPtr<CCurlBase>& transfer : additions) {
        if (!transfer->ApplyRoute()) {
            unrouted.push_back(transfer);
        } else if (transfer->EasyHandle() && curl_multi_add_handle(multi_.get(), transfer->EasyHandle()) == CURLM_OK) {
            CScopedLock lock(lock_);
            running_.push_back(transfer);
        }
    }
    routeWaiting_ = !unrouted.empty();
    CScopedLock lock(lock_);
    for (auto it = unrouted.rbegin(); it != unrouted.rend(); ++it) pendingAdd_.push_front(*it);
}

int CCurlWorkshop::CollectFinished() {
    int handled = 0;
    while (!IsStopRequested()) {
        int left = 0;
        CURLMsg* msg = curl_multi_info_read(multi_.get(), &left);
        if (!msg) break;
        if (msg->msg != CURLMSG_DONE) continue;
        // Copy out: the message is invalid once its handle is removed.
        CURL* easy = msg->easy_handle;
        const CURLcode result = msg->data.result;
        CRefPtr<CCurlBase> transfer;
        {
            CScopedLock lock(lock_);
            auto it = std::find_if(running_.begin(), running_.end(),
                                   [easy](const CRefPtr<CCurlBase>& t) { return t->EasyHandle() == easy; });
            if (it != running_.end()) transfer = *it;
        }
        if (transfer && Reroute(transfer, result)) continue;
        if (transfer) {
            // A proxy that asked who the user is and was not satisfied (an
            // https tunnel's as well, which libcurl reports as a broken
            // reply): the transfer's status is the proxy's 407. Told here,
            // once libcurl has given up answering it.
            long code = 0, connectCode = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
            curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
            if (code == 407 || connectCode == 407) transfer->PostHttpStatus(407);
            transfer->PostTransferDone(result);
            Detach(transfer);
        }
        ++handled;
    }
    return handled;
}

bool CCurlWorkshop::Reroute(const CRefPtr<CCurlBase>& transfer, CURLcode result) {
    if (!transfer->IsAlive() || !transfer->HasNextProxy(result)) return false;
    CURL* easy = transfer->EasyHandle();
    curl_multi_remove_handle(multi_.get(), easy);
    transfer->UseNextProxy();
    return curl_multi_add_handle(multi_.get(), easy) == CURLM_OK;
}

bool CCurlWorkshop::Detach(const CRefPtr<CCurlBase>& transfer) {
    // Worker thread, without the lock: only the worker changes the running
    // list, so the entry found here is still there when it is erased.
    CURL* easy = transfer->EasyHandle();
    if (!easy) return false;
    bool listed = false;
    std::function<void()> hook;
    {
        CScopedLock lock(lock_);
        hook = teardownHook_;
        auto sameHandle = [easy](const CRefPtr<CCurlBase>& t) { return t->EasyHandle() == easy; };
        auto it = std::find_if(running_.begin(), running_.end(), sameHandle);
        if (it != running_.end()) {
            running_.erase(it);
            listed = true;
        } else {
            auto pending = std::find_if(pendingAdd_.begin(), pendingAdd_.end(), sameHandle);
            if (pending != pendingAdd_.end()) pendingAdd_.erase(pending);
        }
    }
    if (listed) {
        if (hook) hook();
        curl_multi_remove_handle(multi_.get(), easy);
        transfer->CleanupEasyHandle();
    }
    return true;
}

size_t CCurlWorkshop::PendingAddCount() {
    CScopedLock lock(lock_);
    return pendingAdd_.size();
}

size_t CCurlWorkshop::RunningCount() {
    CScopedLock lock(lock_);
    return running_.size();
}

size_t CCurlWorkshop::PendingRemoveCount() {
    CScopedLock lock(lock_);
    return pendingRemove_.size();
}
