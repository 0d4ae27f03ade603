#pragma once
// CProxyResolver: the proxies each transfer goes through, for the whole run.
// A manual configuration answers at once; an automatic one (a configuration
// script, or one found by WPAD) is evaluated by WinHTTP on a thread of its
// own, once per scheme, host and port, and remembered. A script that has not
// answered within the bound leaves the manual proxy, if any, else a direct
// connection; its thread is never waited for (WinHTTP cannot cancel it) and
// ends with the process. Route never blocks. Any thread.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Http/SystemProxy.h"

// The proxies a transfer tries in order ("" for a direct connection), the
// next one only after a failure to connect to the one before.
struct ProxyRoute {
    std::vector<std::wstring> proxies;
    ProxySource source = ProxySource::kDirect;
    std::wstring why;  // for the log: the script, the bypass entry, ...

    bool Direct() const { return proxies.empty() || (proxies.size() == 1 && proxies[0].empty()); }
};

class CProxyResolver {
public:
    static constexpr DWORD kScriptBoundMs = 5000;
    // Finds the configuration script by automatic detection: its address, or
    // "" when there is none.
    using Detector = std::function<std::wstring()>;

    // Runs a configuration script for an address: true with the answer
    // ("a:1;b:2", "" for direct), false when the script failed (`error`).
    using Evaluator = std::function<bool(const std::wstring& script, const std::wstring& url, DWORD boundMs,
                                         std::wstring* answer, DWORD* error)>;

    static CProxyResolver& Instance();

    // The run's configuration; forgets every earlier answer. Until it is
    // called (and after Configure(nullptr)), the manual proxy of
    // SystemProxySettings() applies. Configure(nullptr) before the process
    // ends: a script's thread still running then does nothing more.
    void Configure(const ProxyConfig* config);
    // Replaces WinHTTP's detection (DHCP, then DNS: "wpad.<domain>"); null
    // restores it. Test and demo builds never use WinHTTP's: they have only
    // what is given here or in KV_WPAD_URL.
    void SetDetector(Detector detector);
    void SetScriptBoundMs(DWORD ms);
    // Replaces WinHTTP's evaluation; null restores it. (Wine's WinHTTP
    // answers only a script's first proxy; Windows' answers them all.)
    void SetEvaluator(Evaluator evaluator);

    // The route for `url` when known; false while a script is being
    // evaluated for it (the evaluation is started on the first call).
    bool Route(const std::wstring& url, ProxyRoute* route);
    // Whether the route known for `url` goes through a proxy.
    bool Proxied(const std::wstring& url);

    struct State;

private:
    CProxyResolver();
    std::shared_ptr<State> state_;
};
