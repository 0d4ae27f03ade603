#include "Http/SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>

#include "Runtime/Handles.h"
#include "Runtime/TextUtils.h"

namespace {

// Splits at ';' and blanks, dropping empty pieces.
std::vector<std::wstring> Tokens(const std::wstring& text) {
    std::vector<std::wstring> out;
    std::wstring piece;
    for (wchar_t c : text + L";") {
        if (c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            if (!piece.empty()) out.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    return out;
}

std::wstring WithoutScheme(const std::wstring& text) {
    size_t p = text.find(L"://");
    return p == std::wstring::npos ? text : text.substr(p + 3);
}

// '*' matches any run of characters, everything else itself (case already folded).
bool WildcardMatch(const wchar_t* pattern, const wchar_t* text) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*text) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = text;
        } else if (*pattern == *text) {
            ++pattern;
            ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == 0;
}

struct UrlParts {
    std::wstring scheme;  // lower case
    std::wstring host;    // lower case, without port or brackets
    std::wstring hostPort;
};

UrlParts SplitUrl(const std::wstring& url) {
    UrlParts parts;
    size_t p = url.find(L"://");
    size_t start = 0;
    if (p != std::wstring::npos) {
        parts.scheme = ToLower(url.substr(0, p));
        start = p + 3;
    }
    size_t end = url.find_first_of(L"/?#", start);
    std::wstring authority = url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);
    parts.hostPort = ToLower(authority);
    std::wstring host = parts.hostPort;
    if (!host.empty() && host[0] == L'[') {
        size_t close = host.find(L']');
        host = host.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else {
        size_t colon = host.find(L':');
        if (colon != std::wstring::npos) host.erase(colon);
    }
    parts.host = host;
    return parts;
}

bool Bypassed(const ProxySettings& settings, const UrlParts& url) {
    for (const std::wstring& pattern : settings.bypass) {
        if (pattern == L"<local>") {
            if (url.host.find(L'.') == std::wstring::npos && url.host.find(L':') == std::wstring::npos) return true;
            continue;
        }
        if (WildcardMatch(pattern.c_str(), url.host.c_str()) || WildcardMatch(pattern.c_str(), url.hostPort.c_str()))
            return true;
    }
    return false;
}

}  // namespace

ProxySettings ParseProxySettings(const std::wstring& proxy, const std::wstring& bypass) {
    ProxySettings settings;
    for (const std::wstring& entry : Tokens(proxy)) {
        size_t eq = entry.find(L'=');
        if (eq == std::wstring::npos) {
            if (settings.forAll.empty()) settings.forAll = WithoutScheme(entry);
            continue;
        }
        std::wstring scheme = ToLower(entry.substr(0, eq));
        std::wstring server = WithoutScheme(entry.substr(eq + 1));
        if (scheme == L"http" && settings.forHttp.empty()) settings.forHttp = server;
        if (scheme == L"https" && settings.forHttps.empty()) settings.forHttps = server;
    }
    for (const std::wstring& entry : Tokens(bypass)) settings.bypass.push_back(ToLower(WithoutScheme(entry)));
    return settings;
}

std::wstring ProxyForUrl(const ProxySettings& settings, const std::wstring& url) {
    if (settings.Empty()) return L"";
    UrlParts parts = SplitUrl(url);
    const std::wstring& perScheme = parts.scheme == L"https" ? settings.forHttps : settings.forHttp;
    const std::wstring& proxy = perScheme.empty() ? settings.forAll : perScheme;
    if (proxy.empty() || Bypassed(settings, parts)) return L"";
    return proxy;
}

ProxySettings ReadSystemProxySettings() {
    ProxySettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
    // The strings are the caller's to free.
    const kv::UniqueGlobalMem autoConfig(config.lpszAutoConfigUrl), proxy(config.lpszProxy),
        bypass(config.lpszProxyBypass);
    return ParseProxySettings(config.lpszProxy ? config.lpszProxy : L"",
                              config.lpszProxyBypass ? config.lpszProxyBypass : L"");
}

namespace {
std::atomic<const ProxySettings*> g_testSettings{nullptr};
}

const ProxySettings& SystemProxySettings() {
    if (const ProxySettings* injected = g_testSettings.load()) return *injected;
    static const ProxySettings settings = ReadSystemProxySettings();
    return settings;
}

void SetProxySettingsForTesting(const ProxySettings* settings) { g_testSettings.store(settings); }
