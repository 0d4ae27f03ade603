#include "App/DescriptorOverride.h"

#include <windows.h>

#include "App/AppBuildConfig.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"
#include "Updater/UpdateModule.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\DescriptorOverride";

// The host is the authority up to its port: "localhost" or a dotted address
// in 127.0.0.0/8. A user-info part ("http://localhost:@host/") or a longer
// name ("http://127.0.0.1.example/") would reach another host.
bool IsLoopbackHost(const std::wstring& host) {
    if (host == L"localhost") return true;
    if (host.compare(0, 4, L"127.") != 0) return false;
    int dots = 0;
    for (size_t i = 0; i < host.size(); ++i) {
        if (host[i] == L'.') {
            if (i + 1 == host.size() || host[i + 1] == L'.') return false;
            ++dots;
        } else if (host[i] < L'0' || host[i] > L'9') {
            return false;
        }
    }
    return dots == 3;
}
}  // namespace

bool IsLoopbackHttpUrl(const std::wstring& url) {
    const std::wstring scheme = L"http://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    const size_t end = url.find_first_of(L"/?#", scheme.size());
    const std::wstring authority = url.substr(scheme.size(), end == std::wstring::npos ? std::wstring::npos : end - scheme.size());
    if (authority.find(L'@') != std::wstring::npos) return false;
    const size_t colon = authority.find(L':');
    if (colon != std::wstring::npos) {
        const std::wstring port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
    }
    return IsLoopbackHost(authority.substr(0, colon));
}

std::vector<std::wstring> DescriptorUrlOverride() {
    std::vector<std::wstring> urls;
    if (!KV_APP_LOOPBACK_ONLY_BUILD) return urls;
    wchar_t buffer[2048];
    const DWORD n = ::GetEnvironmentVariableW(L"KV_DESCRIPTOR_URLS", buffer, ARRAYSIZE(buffer));
    if (n == 0 || n >= ARRAYSIZE(buffer)) return urls;
    Split(buffer, urls);
    for (const std::wstring& url : urls) {
        if (!IsLoopbackHttpUrl(url)) {
            KV_LOG(kToConsole | kToFile, Error, L"DescriptorUrlOverride %s is not a loopback http URL; override ignored",
                   url.c_str());
            return {};
        }
    }
    return urls;
}

void ApplyDescriptorUrlOverride(CUpdateModule& module) {
    std::vector<std::wstring> urls = DescriptorUrlOverride();
    if (!urls.empty()) module.SetDescriptorUrls(std::move(urls));
}
