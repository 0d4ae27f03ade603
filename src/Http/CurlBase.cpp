#include "Http/CurlBase.h"

#include <windows.h>

#include "Runtime/Log.h"
#include "Runtime/MainThreadTask.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\CurlBase";

constexpr DWORD kReportIntervalMs = 100;

volatile LONG g_liveTransfers = 0;
volatile LONG g_createdTransfers = 0;

// Posts `notify` (a listener's member function) for the transfer; the task
// holds its own reference to the transfer and reaches the listener only if
// it still exists.
template <typename Value>
void PostNotification(CCurlBase* transfer, uintptr_t listenerToken,
                      void (CurlListener::*notify)(const CRefPtr<CCurlBase>&, Value), Value value) {
    PostMainThreadTask([t = CRefPtr<CCurlBase>(transfer), listenerToken, notify, value] {
        if (CurlListener* listener = CurlListener::Find(listenerToken)) (listener->*notify)(t, value);
    });
}

}  // namespace

CCurlBase::CCurlBase() {
    ::InterlockedIncrement(&g_liveTransfers);
    ::InterlockedIncrement(&g_createdTransfers);
}

CCurlBase::~CCurlBase() {
    easy_.reset();
    ::InterlockedDecrement(&g_liveTransfers);
}

long CCurlBase::LiveCount() { return ::InterlockedCompareExchange(&g_liveTransfers, 0, 0); }
long CCurlBase::CreatedCount() { return ::InterlockedCompareExchange(&g_createdTransfers, 0, 0); }

CURL* CCurlBase::PrepareEasyHandle() {
    routeUrl_.clear();
    routed_ = false;
    routeIndex_ = 0;
    throughProxy_.store(false, std::memory_order_release);
    bytesSinceReport_ = 0;
    bytesSentSinceReport_ = 0;
    if (easy_) {
        ::curl_easy_reset(easy_.get());
    } else {
        easy_.reset(::curl_easy_init());
    }
    return easy_.get();
}

size_t CCurlBase::HeaderCallback(char* data, size_t size, size_t count, void* user) noexcept {
    auto* self = static_cast<CCurlBase*>(user);
    if (!self || !self->IsAlive()) return 0;
    return self->OnRecieveHeader(data, size * count);
}

size_t CCurlBase::WriteCallback(char* data, size_t size, size_t count, void* user) noexcept {
    auto* raw = static_cast<CCurlBase*>(user);
    if (!raw || !raw->IsAlive()) return 0;
    CRefPtr<CCurlBase> self(raw);
    const size_t written = self->OnRecieveBody(data, size * count);
    self->bytesSinceReport_ += written;
    if (self->reportProgress_) {
        const DWORD now = ::GetTickCount();
        if (now - self->lastReportTick_ > kReportIntervalMs) {
            self->lastReportTick_ = now;
            self->PostBytesReceived(static_cast<uint32_t>(self->bytesSinceReport_));
            self->bytesSinceReport_ = 0;
        }
    }
    return written;
}

size_t CCurlBase::ReadCallback(char* buffer, size_t size, size_t count, void* user) noexcept {
    auto* raw = static_cast<CCurlBase*>(user);
    if (!raw || !raw->IsAlive()) return 0;
    CRefPtr<CCurlBase> self(raw);
    const size_t sent = self->OnSendBody(buffer, size * count);
    self->bytesSentSinceReport_ += sent;
    if (self->reportProgress_) {
        const DWORD now = ::GetTickCount();
        if (now - self->lastSentReportTick_ > kReportIntervalMs) {
            self->lastSentReportTick_ = now;
            self->PostBytesSent(static_cast<uint32_t>(self->bytesSentSinceReport_));
            self->bytesSentSinceReport_ = 0;
        }
    }
    return sent;
}

void CCurlBase::PostTransferDone(CURLcode result) {
    // libcurl reads no more once the announced body is sent: the bytes since
    // the last report go out here, so that the sent reports add up.
    if (reportProgress_ && bytesSentSinceReport_ != 0) {
        PostBytesSent(static_cast<uint32_t>(bytesSentSinceReport_));
        bytesSentSinceReport_ = 0;
    }
    PostNotification(this, listenerToken_, &CurlListener::OnTransferDone, result);
}
void CCurlBase::PostBytesReceived(uint32_t count) {
    PostNotification(this, listenerToken_, &CurlListener::OnBytesReceived, count);
}
void CCurlBase::PostBytesSent(uint32_t count) {
    PostNotification(this, listenerToken_, &CurlListener::OnBytesSent, count);
}
void CCurlBase::PostHttpStatus(int32_t status) {
    PostNotification(this, listenerToken_, &CurlListener::OnHttpStatus, status);
}

bool CCurlBase::ApplyRoute() {
    if (!easy_) return true;
    if (!routed_) {
        if (routeUrl_.empty()) {
            route_ = ProxyRoute();
        } else if (!CProxyResolver::Instance().Route(routeUrl_, &route_)) {
            return false;
        }
        if (route_.proxies.empty()) route_.proxies.push_back(L"");
        routed_ = true;
        routeIndex_ = 0;
    }
    // The empty string also keeps libcurl away from the environment's proxy variables.
    const std::wstring& proxy = route_.proxies[routeIndex_];
    throughProxy_.store(!proxy.empty(), std::memory_order_release);
    curl_easy_setopt(easy_.get(), CURLOPT_PROXY, WideToAnsi(proxy).c_str());
    if (!routeUrl_.empty()) LogRoute();
    return true;
}

bool CCurlBase::HasNextProxy(CURLcode result) const {
    if (!easy_ || !routed_ || !ThroughProxy() || routeIndex_ + 1 >= route_.proxies.size()) return false;
    return result == CURLE_COULDNT_CONNECT || result == CURLE_COULDNT_RESOLVE_PROXY;
}

void CCurlBase::UseNextProxy() {
    KV_LOG(kToConsole | kToFile, Warn, L"CCurlBase proxy %s unreachable: trying the next one",
           route_.proxies[routeIndex_].c_str());
    ++routeIndex_;
    ApplyRoute();
}

void CCurlBase::LogRoute() const {
    const std::wstring& proxy = route_.proxies[routeIndex_];
    KV_LOG(kToFile, Info, L"CCurlBase %s via %s (%s: %s)", routeUrl_.c_str(), proxy.empty() ? L"DIRECT" : proxy.c_str(),
           ProxySourceName(route_.source), route_.why.c_str());
}
