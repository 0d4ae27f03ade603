#pragma once
// CDNSThread: one run resolves one host name to IPv4 addresses by asking its
// resolvers in turn over UDP and posts (code, host, addresses) to the
// main thread: code 0 with the first answering resolver's A records joined by
// ";", or -1 with "" when none answered. A stopped run posts nothing.
// Setters and Start/StopThread: owner (main) thread, never while running.
#include <winsock2.h>

#include <functional>
#include <string>
#include <vector>

#include "Http/DnsResolverList.h"
#include "Runtime/RetryPolicy.h"
#include "Runtime/SimpleThread.h"

// Runs on the main thread.
using DnsResultCallback = std::function<void(int code, const std::string& hostName, const std::string& addresses)>;

class CDNSThread : public CSimpleThread {
public:
    static constexpr DWORD kDefaultWaitMs = kv::retry::kResolverWaitMs;  // per resolver, from the send
    static constexpr int kResolved = 0;
    static constexpr int kFailed = -1;

    enum class SendResult { Sent, Refused, Failed };

    CDNSThread();
    // Stops a run that is still going and waits for it to end, so the thread
    // never outlives its fields.
    ~CDNSThread() override;

    void SetResultCallback(DnsResultCallback callback) { callback_ = std::move(callback); }
    void SetHostName(const std::string& hostName) { hostName_ = hostName; }  // UTF-8
    // Replaces the built-in resolver list (tests and demos: loopback servers).
    void SetResolvers(const std::vector<DnsResolver>& resolvers) { resolvers_ = resolvers; }
    const std::vector<DnsResolver>& GetResolvers() const { return resolvers_; }
    // Replaces the 1500 ms wait for each resolver's answer.
    void SetWaitMs(DWORD waitMs) { waitMs_ = waitMs; }

    // Starts a run; false while the last run's thread is still there (a
    // result would never come from it for the new host).
    bool StartThread() override;
    void Run() override;
    // Asks a running run to stop, which ends any wait of it at once, and
    // waits at most timeoutMs for it; false when it has not ended by then.
    // Every wait of a run is bounded (the resolver's wait, no blocking socket
    // call), so it always ends by itself.
    bool StopThread(DWORD timeoutMs) override;

    // The only place a query leaves the process: refuses targets that this
    // build does not allow (KV_LOOPBACK_ONLY) before anything is sent.
    static SendResult SendQuery(SOCKET socket, const DnsResolver& resolver, const std::vector<uint8_t>& message);

private:
    struct QueryContext;
    bool Query(QueryContext& context, const DnsResolver& resolver, std::string& addresses);

    DnsResultCallback callback_;
    std::string hostName_;
    std::vector<DnsResolver> resolvers_;
    DWORD waitMs_ = kDefaultWaitMs;
    // Set by StopThread: ends the run's wait for an answer.
    kv::UniqueKernelHandle stopEvent_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};
