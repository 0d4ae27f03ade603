#pragma once
// CHttpDownloadFile: downloads one URL into one local file on the download
// engine. Resumes a partial file with a byte range, checks the announced
// length against the expected size, retries an address 3 times, moves on to
// the mirrors, then resolves the main host with its own resolver and tries
// the main URL at each address found (the host name stays in the request and
// TLS). Every run started by Download() ends in exactly one
// completion (unless the owner cancels with Stop()); progress comes once a
// second. Main thread only (the resolver reports through the dispatcher).
#include <cstdint>
#include <deque>
#include <string>

#include "Http/DNSThread.h"
#include "Http/HttpBase.h"
#include "Http/HttpResult.h"

class CHttpDownloadFile : public CHttpBase {
public:
    // (owner, error type, code); (0, 0) is success.
    using Completion = void (*)(void* owner, int32_t errorType, int32_t code);
    // (owner, total bytes, downloaded bytes, bytes per second).
    using Progress = void (*)(void* owner, int64_t total, int64_t downloaded, uint32_t speed);

    static constexpr size_t kSpeedSamples = 10;
    static constexpr int32_t kLengthMismatch = 2007;  // error type 3
    static constexpr DWORD kResolverCancelMs = 1000;   // bound on stopping the resolver at teardown

    CHttpDownloadFile();
    // Cancels the run and stops the resolver thread before anything goes.
    ~CHttpDownloadFile() override;

    // The owner's callbacks, used by every later run.
    void SetCallbacks(Completion completion, Progress progress) {
        completion_ = completion;
        progress_ = progress;
    }
    // mirrors: alternate URLs separated by ';'. expectedSize 0 = unknown. The
    // owner pointer is passed back to both callbacks. An empty url with
    // mirrors fails like a malformed address and the mirrors follow. False
    // when there is no address at all, a run is still going (the owner must
    // Stop() first) or the engine is missing.
    bool Download(const std::wstring& mirrors, const std::wstring& url, const std::wstring& localPath,
                  int64_t expectedSize, void* owner);

    // The current URL (front of the URL list), "" when there is none.
    const std::wstring& GetUrl() const override;
    // The common options plus a large receive buffer for file bodies, and
    // the current URL's pinned address.
    bool SetupTransfer() override;
    bool Start() override;
    // Cancels: the transfer is dropped, the task leaves its scheduler, a
    // running resolver is stopped and no completion follows. Call it also
    // after consuming a completion, before the next Download().
    bool Stop() override;
    void Done(int32_t curlResult) override;
    void OnHttpStatus(int32_t status) override;
    void OnTick() override;
    void OnBytesReceived(uint32_t count) override;

    // The resolver's result callback (posted to the main thread). `task` is
    // the token the run was started with; a token whose task has gone or
    // moved on is logged and ignored.
    static void OnSpareDNSResult(int code, void* task, const std::string& hostName, const std::string& ipList);
    void OnDNSResult(int code, const std::wstring& hostName, const std::wstring& ipList);

    // The host part of a URL: after "://" and any user part, letters,
    // digits, '.' and '-' up to the port, path or query.
    static std::wstring HostNameOf(const std::wstring& url);

    // Injection point for the resolver list and wait (tests, demos).
    CDNSThread& Resolver() { return resolver_; }
    const std::deque<std::wstring>& UrlList() const { return urlList_; }
    const std::wstring& MainUrl() const { return mainUrl_; }
    const std::deque<uint32_t>& SpeedSamples() const { return speedSamples_; }
    bool ResolverRunning() const { return dnsToken_ != 0; }

private:
    void Finish(int32_t errorType, int32_t code);
    bool StartResolver(const std::string& host);
    void CancelResolver(DWORD waitMs);
    void PostFailure();
    static void DeliverPostedFailure(uintptr_t token, int32_t errorType, int32_t code);

    std::wstring mainUrl_;
    CDNSThread resolver_;
    std::wstring localPath_;
    int64_t expectedSize_ = 0;
    Completion completion_ = nullptr;
    Progress progress_ = nullptr;
    void* owner_ = nullptr;
    std::deque<std::wstring> urlList_;
    // After the address fallback: one address per entry of urlList_ (all the
    // main URL), to which pinnedHost_ is pinned; empty before.
    std::deque<std::wstring> pinnedAddresses_;
    std::wstring pinnedHost_;
    uint64_t received_ = 0;
    uint32_t bytesSinceTick_ = 0;
    int64_t contentLength_ = 0;
    std::deque<uint32_t> speedSamples_;

    // The failure that started the address fallback; what the owner gets when
    // the fallback cannot go on.
    HttpResult fallbackResult_;
    // Live tokens (see the .cpp): a resolver run and a posted failure.
    uintptr_t dnsToken_ = 0;
    uintptr_t postedToken_ = 0;
};

// Hands the download to the download engine's scheduler (first submission and
// every retry); false when that engine does not exist. Main thread only.
bool SubmitDownload(CHttpDownloadFile* task);
