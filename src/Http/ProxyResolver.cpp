#include "Http/ProxyResolver.h"

#include <process.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "DnsBuildConfig.h"
#include "Runtime/Handles.h"
#include "Runtime/Lock.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\ProxyResolver";

// What a script answers depends on the scheme, host and port: the answer is
// kept per "scheme://host:port", lower case.
std::wstring HostKey(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    const size_t start = scheme == std::wstring::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of(L"/?#", start);
    return ToLower(url.substr(0, end));
}

ProxyRoute ManualRoute(const ProxyConfig& config, const std::wstring& url) {
    ProxyRoute route;
    route.source = config.source;
    const std::wstring proxy = ProxyForUrl(config.manual, url);
    if (proxy.empty()) {
        route.why = config.source == ProxySource::kSwitch ? L"/PROXY=direct"
                    : config.manual.Empty()               ? L"no proxy configured"
                                                          : L"not for this address (bypass list or scheme)";
        return route;
    }
    route.proxies.push_back(proxy);
    if (route.source == ProxySource::kDirect) route.source = ProxySource::kManual;
    route.why = L"configured proxy";
    return route;
}

// Where a script that gave no answer leaves the transfer: the manual proxy
// when one is configured as well, else a direct connection.
ProxyRoute WithoutScript(const ProxyConfig& config, const std::wstring& url, const std::wstring& reason) {
    ProxyRoute route = ManualRoute(config, url);
    route.why = reason + (route.Direct() ? L": direct" : L": configured proxy");
    return route;
}

// WinHTTP's detection: DHCP, then "wpad.<domain>" through the system's
// resolver. A test or demo build must never send that query: it takes the
// script's address from KV_WPAD_URL instead, and has none without it.
std::wstring DetectWithWinHttp() {
#if KV_LOOPBACK_ONLY_BUILD
    wchar_t buffer[1024];
    const DWORD n = ::GetEnvironmentVariableW(L"KV_WPAD_URL", buffer, ARRAYSIZE(buffer));
    return n > 0 && n < ARRAYSIZE(buffer) ? std::wstring(buffer, n) : std::wstring();
#else
    LPWSTR found = nullptr;
    if (!::WinHttpDetectAutoProxyConfigUrl(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &found))
        return L"";
    const kv::UniqueGlobalMem owned(found);
    return found ? std::wstring(found) : std::wstring();
#endif
}

// Asks WinHTTP to run the script for `url` (blocking; its download is bounded
// by the session's time-outs, its evaluation is not).
bool EvaluateWithWinHttp(const std::wstring& script, const std::wstring& url, DWORD boundMs, std::wstring* answer,
                         DWORD* error) {
    HINTERNET session = ::WinHttpOpen(L"KorvelQixar", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        *error = ::GetLastError();
        return false;
    }
    const int bound = static_cast<int>(boundMs);
    ::WinHttpSetTimeouts(session, bound, bound, bound, bound);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = script.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    const BOOL answered = ::WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    *error = answered ? 0 : ::GetLastError();
    ::WinHttpCloseHandle(session);
    if (!answered) return false;
    const kv::UniqueGlobalMem proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    answer->clear();
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) *answer = info.lpszProxy;
    return true;
}

ProxyRoute RunScript(const ProxyConfig& config, const std::wstring& script, ProxySource source,
                     const std::wstring& url, DWORD boundMs, const CProxyResolver::Evaluator& evaluator) {
    std::wstring answer;
    DWORD error = 0;
    const bool answered = evaluator ? evaluator(script, url, boundMs, &answer, &error)
                                    : EvaluateWithWinHttp(script, url, boundMs, &answer, &error);
    const std::wstring name = std::wstring(ProxySourceName(source)) + L" " + script;
    if (!answered) return WithoutScript(config, url, FormatString(L"%s failed (%lu)", name.c_str(), error));
    ProxyRoute route;
    route.source = source;
    route.why = name;
    route.proxies = ParseProxyList(answer);
    return route;
}

std::wstring Describe(const ProxyRoute& route) {
    std::wstring text;
    for (const std::wstring& proxy : route.proxies) text += (text.empty() ? L"" : L"; ") + (proxy.empty() ? L"DIRECT" : proxy);
    return text.empty() ? L"DIRECT" : text;
}

}  // namespace

struct CProxyResolver::State {
    struct Entry {
        std::wstring key;
        bool ready = false;
        ULONGLONG startedAt = 0;
        ProxyRoute route;
    };

    CLock lock;
    bool configured = false;
    ProxyConfig config;
    unsigned generation = 0;  // a new configuration drops the answers of the old one
    DWORD boundMs = kScriptBoundMs;
    Detector detector;
    Evaluator evaluator;
    std::vector<Entry> entries;  // a few servers a run
    // Automatic detection runs once per configuration, whichever host asks first.
    CLock detectLock;
    unsigned detectedGeneration = ~0u;
    std::wstring detectedUrl;

    Entry* Find(const std::wstring& key) {
        auto it = std::find_if(entries.begin(), entries.end(), [&key](const Entry& e) { return e.key == key; });
        return it == entries.end() ? nullptr : &*it;
    }

    std::wstring Detect(unsigned forGeneration, const Detector& detect) {
        CScopedLock hold(detectLock);
        if (detectedGeneration != forGeneration) {
            detectedUrl = detect ? detect() : DetectWithWinHttp();
            detectedGeneration = forGeneration;
            // Under the state's lock, and only for the current configuration:
            // once the process ends (Configure(nullptr)) the logger may be gone.
            CScopedLock current(lock);
            if (forGeneration == generation)
                KV_LOG(kToConsole | kToFile, Info, L"CProxyResolver WPAD: %s",
                       detectedUrl.empty() ? L"no configuration script found" : detectedUrl.c_str());
        }
        return detectedUrl;
    }

    void Answer(unsigned forGeneration, const std::wstring& key, const ProxyRoute& route) {
        CScopedLock hold(lock);
        Entry* entry = Find(key);
        // Too late: answered by the bound, or configured anew (also at exit,
        // when this thread may outlive the logger: nothing is logged then).
        if (forGeneration != generation || !entry || entry->ready) return;
        entry->ready = true;
        entry->route = route;
        KV_LOG(kToConsole | kToFile, Info, L"CProxyResolver %s: %s (%s, %s)", key.c_str(), Describe(route).c_str(),
               ProxySourceName(route.source), route.why.c_str());
    }
};

namespace {

// What an evaluation thread works on: the state, shared, which outlives the
// resolver's answer to Route, and the server it evaluates for.
struct Evaluation {
    std::shared_ptr<CProxyResolver::State> state;
    unsigned generation;
    std::wstring key;
    std::wstring url;
};

unsigned __stdcall EvaluationThread(void* argument) {
    const std::unique_ptr<Evaluation> job(static_cast<Evaluation*>(argument));
    CProxyResolver::State& state = *job->state;
    ProxyConfig config;
    CProxyResolver::Detector detector;
    CProxyResolver::Evaluator evaluator;
    DWORD boundMs;
    {
        CScopedLock hold(state.lock);
        if (job->generation != state.generation) return 0;  // configured anew meanwhile
        config = state.config;
        detector = state.detector;
        evaluator = state.evaluator;
        boundMs = state.boundMs;
    }
    std::wstring script = config.scriptUrl;
    ProxySource source = config.source == ProxySource::kSwitch ? ProxySource::kSwitch : ProxySource::kScript;
    if (script.empty()) {
        script = state.Detect(job->generation, detector);
        source = ProxySource::kWpad;
    }
    const ProxyRoute route = script.empty() ? WithoutScript(config, job->url, L"WPAD found no configuration script")
                                            : RunScript(config, script, source, job->url, boundMs, evaluator);
    state.Answer(job->generation, job->key, route);
    return 0;
}

}  // namespace

CProxyResolver::CProxyResolver() : state_(std::make_shared<State>()) {}

CProxyResolver& CProxyResolver::Instance() {
    // Never destroyed: an evaluation may still be running when the process ends.
    static auto* resolver = new CProxyResolver();
    return *resolver;
}

void CProxyResolver::Configure(const ProxyConfig* config) {
    CScopedLock hold(state_->lock);
    state_->configured = config != nullptr;
    state_->config = config ? *config : ProxyConfig();
    ++state_->generation;
    state_->entries.clear();
}

void CProxyResolver::SetDetector(Detector detector) {
    CScopedLock hold(state_->lock);
    state_->detector = std::move(detector);
}

void CProxyResolver::SetEvaluator(Evaluator evaluator) {
    CScopedLock hold(state_->lock);
    state_->evaluator = std::move(evaluator);
}

void CProxyResolver::SetScriptBoundMs(DWORD ms) {
    CScopedLock hold(state_->lock);
    state_->boundMs = ms;
}

bool CProxyResolver::Route(const std::wstring& url, ProxyRoute* route) {
    State& s = *state_;
    CScopedLock hold(s.lock);
    if (!s.configured) {
        ProxyConfig system;
        system.manual = SystemProxySettings();
        *route = ManualRoute(system, url);
        return true;
    }
    if (!s.config.Automatic()) {
        *route = ManualRoute(s.config, url);
        return true;
    }
    const std::wstring key = HostKey(url);
    const ULONGLONG now = ::GetTickCount64();
    State::Entry* found = s.Find(key);
    if (!found) {
        s.entries.push_back(State::Entry{key, false, now, ProxyRoute()});
        found = &s.entries.back();
        auto* job = new Evaluation{state_, s.generation, key, url};
        // Never joined: WinHTTP cannot stop a script, and the process may
        // end while one still runs.
        const uintptr_t thread = ::_beginthreadex(nullptr, 0, &EvaluationThread, job, 0, nullptr);
        if (thread) {
            ::CloseHandle(reinterpret_cast<HANDLE>(thread));
        } else {
            delete job;
            found->ready = true;
            found->route = WithoutScript(s.config, url, L"no thread for the script");
        }
    }
    State::Entry& entry = *found;
    if (!entry.ready && now - entry.startedAt >= s.boundMs) {
        entry.ready = true;
        entry.route = WithoutScript(s.config, url, FormatString(L"no answer from the script within %lu ms", s.boundMs));
        KV_LOG(kToConsole | kToFile, Warn, L"CProxyResolver %s: %s (%s)", key.c_str(), Describe(entry.route).c_str(),
               entry.route.why.c_str());
    }
    if (!entry.ready) return false;
    *route = entry.route;
    return true;
}

bool CProxyResolver::Proxied(const std::wstring& url) {
    ProxyRoute route;
    {
        CScopedLock hold(state_->lock);
        if (state_->configured && state_->config.Automatic()) {
            const State::Entry* entry = state_->Find(HostKey(url));
            return entry && entry->ready && !entry->route.Direct();
        }
    }
    return Route(url, &route) && !route.Direct();
}
