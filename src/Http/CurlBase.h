#pragma once
// CCurlBase: one libcurl easy handle and the callbacks that libcurl calls on
// the worker thread, reference-counted and shared by its task, the worker's
// lists and pending notifications. Notifications reach the listener on the
// main thread. Configured and cancelled on the main thread; callbacks run on
// the worker thread (CCurlWorkshop).
#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Http/CurlHandles.h"
#include "Http/CurlListener.h"
#include "Http/ProxyResolver.h"
#include "Runtime/RefCounted.h"

class CCurlBase : public CRefThreadSafeBase<CCurlBase> {
public:
    virtual ~CCurlBase();

    CURL* EasyHandle() const { return easy_.get(); }
    // Creates the easy handle if there is none, else resets it (and the byte
    // counts of the reports); null on failure.
    CURL* PrepareEasyHandle();
    // Cleans up the easy handle (worker, after curl_multi_remove_handle).
    void CleanupEasyHandle() { easy_.reset(); }

    // Notifications go to this listener while it exists (null: nowhere).
    void SetListener(const CurlListener* listener) { listenerToken_ = listener ? listener->Token() : 0; }

    // The proxy: the transfer goes through the proxies CProxyResolver has for
    // `url`, in order. Set on the main thread with the other options (and by
    // PrepareEasyHandle to none); the worker applies it before the transfer
    // starts and moves on after a failure to connect.
    void SetRouteUrl(const std::wstring& url) { routeUrl_ = url; }
    // Worker: sets the route's current proxy on the easy handle; false while
    // the route is not known yet (a configuration script still runs).
    bool ApplyRoute();
    // Worker, after the transfer ended with `result`: whether that is a
    // failure to reach a proxy and the route has another entry; and the
    // step to that entry (only while the handle is out of the multi handle).
    bool HasNextProxy(CURLcode result) const;
    void UseNextProxy();
    // Whether the transfer's current route entry is a proxy. Any thread.
    bool ThroughProxy() const { return throughProxy_.load(std::memory_order_acquire); }

    // Cancellation: once cleared, every callback refuses to go on.
    bool IsAlive() const { return alive_.load(std::memory_order_acquire); }
    void SetAlive(bool alive) { alive_.store(alive, std::memory_order_release); }

    // When set, received and sent byte counts are reported (each at most
    // every 100 ms); the sent reports of a finished transfer add up to its body.
    bool ReportsProgress() const { return reportProgress_; }
    void SetReportProgress(bool report) { reportProgress_ = report; }

    virtual size_t OnRecieveHeader(const char* data, size_t length) = 0;
    virtual size_t OnRecieveBody(const char* data, size_t length) = 0;
    virtual size_t OnSendBody(char* buffer, size_t length) = 0;
    // Closes the response sink and the request source (main thread, on release).
    virtual void CloseStreams() = 0;

    // Functions handed to libcurl (CURLOPT_HEADERFUNCTION etc.); `user` is the transfer.
    // libcurl's frames carry no unwind tables: nothing may be thrown through them.
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* user) noexcept;
    static size_t WriteCallback(char* data, size_t size, size_t count, void* user) noexcept;
    static size_t ReadCallback(char* buffer, size_t size, size_t count, void* user) noexcept;

    // Posting of the notifications to the listener on the main thread (any thread).
    void PostTransferDone(CURLcode result);
    void PostBytesReceived(uint32_t count);
    void PostBytesSent(uint32_t count);
    void PostHttpStatus(int32_t status);

    // Live and ever-created transfer counts, for leak checks in tests.
    static long LiveCount();
    static long CreatedCount();

protected:
    CCurlBase();

private:
    void LogRoute() const;

    kv::UniqueCurl easy_;
    // Main thread until the transfer is queued, then the worker's.
    std::wstring routeUrl_;
    bool routed_ = false;
    ProxyRoute route_;
    size_t routeIndex_ = 0;
    std::atomic<bool> throughProxy_{false};
    uintptr_t listenerToken_ = 0;
    std::atomic<bool> alive_{true};
    bool reportProgress_ = false;
    // Touched by the worker thread only (and reset while it does not hold the transfer).
    uint64_t bytesSinceReport_ = 0;
    uint32_t lastReportTick_ = 0;
    uint64_t bytesSentSinceReport_ = 0;
    uint32_t lastSentReportTick_ = 0;
};
