#include "App/DescriptorOverride.h"

#include <windows.h>

#include "App/AppBuildConfig.h"
#include "App/AppLog.h"
#include "Runtime/TextUtils.h"
#include "Updater/UpdateModule.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\DescriptorOverride";

bool IsLoopbackHttpUrl(const std::wstring& url) {
    for (const wchar_t* prefix : {L"http://127.", L"http://localhost:", L"http://localhost/"}) {
        if (url.compare(0, wcslen(prefix), prefix) == 0) return true;
    }
    return false;
}
}  // namespace

std::vector<std::wstring> DescriptorUrlOverride() {
    std::vector<std::wstring> urls;
    if (!KV_APP_LOOPBACK_ONLY_BUILD) return urls;
    wchar_t buffer[2048];
    const DWORD n = ::GetEnvironmentVariableW(L"KV_DESCRIPTOR_URLS", buffer, ARRAYSIZE(buffer));
    if (n == 0 || n >= ARRAYSIZE(buffer)) return urls;
    Split(buffer, urls);
    for (const std::wstring& url : urls) {
        if (!IsLoopbackHttpUrl(url)) {
            KV_APP_LOG(Error, L"DescriptorUrlOverride %s is not a loopback http URL; override ignored", url.c_str());
            return {};
        }
    }
    return urls;
}

void ApplyDescriptorUrlOverride(CUpdateModule& module) {
    std::vector<std::wstring> urls = DescriptorUrlOverride();
    if (!urls.empty()) module.SetDescriptorUrls(std::move(urls));
}
