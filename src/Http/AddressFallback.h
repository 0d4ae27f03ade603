#pragma once
// CAddressFallback: a download's last resort once its addresses have failed.
// Its own resolver (CDNSThread) looks up the host of the main URL, and the
// main URL is then tried at each address found, pinned to it: the host name
// stays in the request, the TLS server name and the certificate check. Used
// at most once a run. Main thread only (the resolver reports through the
// dispatcher to the callback given to Start).
#include <deque>
#include <string>

#include "Http/DNSThread.h"
#include "Http/HttpResult.h"

class CCurlHttp;

class CAddressFallback {
public:
    // Bound on waiting for a resolver run that has answered and is ending.
    static constexpr DWORD kJoinMs = 1000;

    // A new run: unused, no addresses.
    void Reset();
    bool Used() const { return used_; }

    // Starts the resolver for the host of `mainUrl` after `failure`; marks
    // the fallback used either way. False when `mainUrl` goes through a
    // proxy, the host is too short to look up, an earlier resolver run is
    // still ending, or no thread starts.
    bool Start(const std::wstring& mainUrl, const HttpResult& failure, DnsResultCallback callback);
    // Stops a running resolver, waiting at most waitMs.
    void Cancel(DWORD waitMs) { resolver_.StopThread(waitMs); }
    // Waits (at most kJoinMs) for the resolver that has answered to end.
    bool Join() { return resolver_.JoinThread(kJoinMs); }

    // Takes the resolver's answer: the addresses in `ipList` (';'-separated)
    // when `hostName` is the host of `mainUrl`. How many there are.
    size_t Accept(const std::wstring& mainUrl, const std::wstring& hostName, const std::wstring& ipList);
    // The address of the index-th URL to try (the front is the current one);
    // null past the end, and before any answer.
    const std::wstring* Address(size_t index) const;
    const std::wstring& Host() const { return host_; }
    // The current address has failed; the next one becomes the front.
    void DropFront();
    // Forgets the addresses (the run ends).
    void ClearAddresses() { addresses_.clear(); }
    // Pins the host of `transfer` to the current address; true when there is
    // none to pin.
    bool PinCurrent(CCurlHttp& transfer) const;

    // What the owner gets when the fallback cannot go on: the failure that
    // started it, else "no address resolved".
    HttpResult Failure() const;

    // The host part of a URL: after "://" and any user part, letters,
    // digits, '.' and '-' up to the port, path or query.
    static std::wstring HostNameOf(const std::wstring& url);

    CDNSThread& Resolver() { return resolver_; }

private:
    CDNSThread resolver_;
    bool used_ = false;
    HttpResult failure_;
    std::wstring host_;
    // One address per URL still to try, all of them the main URL.
    std::deque<std::wstring> addresses_;
};
