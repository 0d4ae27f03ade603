#include "Http/SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cwctype>

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

const wchar_t* ProxySourceName(ProxySource source) {
    switch (source) {
        case ProxySource::kManual: return L"manual";
        case ProxySource::kMachine: return L"machine";
        case ProxySource::kScript: return L"script";
        case ProxySource::kWpad: return L"WPAD";
        case ProxySource::kSwitch: return L"switch";
        default: return L"direct";
    }
}

bool ParseProxySwitch(const std::wstring& value, ProxyConfig* config) {
    ProxyConfig parsed;
    parsed.source = ProxySource::kSwitch;
    const std::wstring lower = ToLower(value);
    if (lower == L"direct") {
        *config = parsed;
        return true;
    }
    if (lower.rfind(L"http://", 0) == 0 || lower.rfind(L"https://", 0) == 0) {
        if (SplitUrl(value).host.empty()) return false;
        parsed.scriptUrl = value;
        *config = parsed;
        return true;
    }
    // host:port, the port in 1..65535 and the host of name characters only.
    const size_t colon = value.rfind(L':');
    if (colon == std::wstring::npos || colon == 0 || colon + 1 == value.size() || colon + 6 < value.size())
        return false;
    unsigned port = 0;
    for (size_t i = colon + 1; i < value.size(); ++i) {
        if (value[i] < L'0' || value[i] > L'9') return false;
        port = port * 10 + static_cast<unsigned>(value[i] - L'0');
    }
    if (port == 0 || port > 65535) return false;
    for (size_t i = 0; i < colon; ++i) {
        const wchar_t c = value[i];
        if (!iswalnum(c) && c != L'.' && c != L'-' && c != L'[' && c != L']' && c != L':') return false;
    }
    parsed.manual.forAll = value;
    *config = parsed;
    return true;
}

std::vector<std::wstring> ParseProxyList(const std::wstring& answer) {
    std::vector<std::wstring> out;
    std::wstring kind;
    for (const std::wstring& token : Tokens(answer)) {
        if (out.size() == kMaxScriptProxies) break;
        const std::wstring lower = ToLower(token);
        if (lower == L"direct") {
            out.push_back(L"");
            kind.clear();
        } else if (lower == L"proxy" || lower == L"http" || lower == L"https" || lower.rfind(L"socks", 0) == 0) {
            kind = lower;  // the entry's kind; its server follows
        } else {
            if (kind.empty() || kind == L"proxy" || kind == L"http") {
                const std::wstring server = WithoutScheme(token);
                if (!server.empty()) out.push_back(server);
            }
            kind.clear();
        }
    }
    return out;
}

namespace {

bool RunsAsSystem() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const kv::UniqueKernelHandle token(raw);
    BYTE buffer[256];
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) return false;
    return ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid) != FALSE;
}

}  // namespace

ProxyConfig ReadProxyConfig() {
    ProxyConfig config;
    if (RunsAsSystem()) {
        WINHTTP_PROXY_INFO info{};
        if (!::WinHttpGetDefaultProxyConfiguration(&info)) return config;
        const kv::UniqueGlobalMem proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
            config.source = ProxySource::kMachine;
            config.manual = ParseProxySettings(info.lpszProxy, info.lpszProxyBypass ? info.lpszProxyBypass : L"");
        }
        return config;
    }
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&ie)) return config;
    const kv::UniqueGlobalMem autoConfig(ie.lpszAutoConfigUrl), proxy(ie.lpszProxy), bypass(ie.lpszProxyBypass);
    config.manual = ParseProxySettings(ie.lpszProxy ? ie.lpszProxy : L"", ie.lpszProxyBypass ? ie.lpszProxyBypass : L"");
    if (!config.manual.Empty()) config.source = ProxySource::kManual;
    config.autoDetect = ie.fAutoDetect != FALSE;
    if (ie.lpszAutoConfigUrl) config.scriptUrl = ie.lpszAutoConfigUrl;
    return config;
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
