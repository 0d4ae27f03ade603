#include "Http/AddressFallback.h"

#include <vector>

#include "Http/CurlHttp.h"
#include "Http/HttpResultCodes.h"
#include "Http/ProxyResolver.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\AddressFallback";
constexpr size_t kMinHostLength = 3;
constexpr size_t kMinAddressLength = 7;  // "1.2.3.4"

bool IsHostChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-';
}

// Where the host of `url` begins: after "://" and after a user part.
size_t HostStart(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    const size_t authority = scheme == std::wstring::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of(L"/?#", authority);
    const size_t at = url.rfind(L'@', end == std::wstring::npos ? std::wstring::npos : end);
    return (at != std::wstring::npos && at >= authority) ? at + 1 : authority;
}

}  // namespace

void CAddressFallback::Reset() {
    used_ = false;
    host_.clear();
    addresses_.clear();
}

bool CAddressFallback::Start(const std::wstring& mainUrl, const HttpResult& failure, DnsResultCallback callback) {
    failure_ = failure;
    used_ = true;
    // A proxied transfer's name is resolved by the proxy: addresses of our
    // own would either go round the proxy or fail where only it gets out.
    if (CProxyResolver::Instance().Proxied(mainUrl)) {
        KV_LOG(kToConsole | kToFile, Info, L"CAddressFallback not used: %s goes through a proxy", mainUrl.c_str());
        return false;
    }
    const std::string host = WideToUtf8(HostNameOf(mainUrl));
    if (host.size() < kMinHostLength) return false;
    // An earlier run that answered but was slow to end: its fields are not
    // touched while it is still there.
    if (!resolver_.JoinThread(kJoinMs)) return false;
    resolver_.SetResultCallback(std::move(callback));
    resolver_.SetHostName(host);
    return resolver_.StartThread();
}

size_t CAddressFallback::Accept(const std::wstring& mainUrl, const std::wstring& hostName, const std::wstring& ipList) {
    host_ = hostName;
    addresses_.clear();
    if (hostName.empty() || HostNameOf(mainUrl) != hostName) return 0;
    std::vector<std::wstring> pieces;
    Split(ipList, pieces);
    for (const std::wstring& address : pieces) {
        if (address.size() >= kMinAddressLength) addresses_.push_back(address);
    }
    return addresses_.size();
}

const std::wstring* CAddressFallback::Address(size_t index) const {
    return index < addresses_.size() ? &addresses_[index] : nullptr;
}

void CAddressFallback::DropFront() {
    if (!addresses_.empty()) addresses_.pop_front();
}

bool CAddressFallback::PinCurrent(CCurlHttp& transfer) const {
    if (addresses_.empty()) return true;
    return transfer.PinHostAddress(WideToUtf8(host_), WideToUtf8(addresses_.front()));
}

HttpResult CAddressFallback::Failure() const { return failure_.type == kHttpErrorOk ? kNoAddressResolved : failure_; }

std::wstring CAddressFallback::HostNameOf(const std::wstring& url) {
    const size_t start = HostStart(url);
    size_t end = start;
    while (end < url.size() && IsHostChar(url[end])) ++end;
    return url.substr(start, end - start);
}
