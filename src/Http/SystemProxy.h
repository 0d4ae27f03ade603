#pragma once
// The proxy configuration that Windows has for the current user (the settings
// browsers use; the machine's WinHTTP proxy when running as SYSTEM) or that
// /PROXY= gives, and which transfer a manual proxy carries. A transfer whose
// URL matches the bypass list, or for whose scheme no proxy is set, goes
// direct. Automatic detection and configuration scripts are evaluated by
// CProxyResolver. Pure text functions, and reads of the system's settings;
// any thread.
#include <string>
#include <vector>

struct ProxySettings {
    std::wstring forAll;    // "host:port" used for every scheme, or ""
    std::wstring forHttp;   // "http=" entry
    std::wstring forHttps;  // "https=" entry
    std::vector<std::wstring> bypass;  // lower-case patterns; "<local>" = names without a dot

    bool Empty() const { return forAll.empty() && forHttp.empty() && forHttps.empty(); }
};

// From the two strings of the user's configuration ("p:8080" or
// "http=p:8080;https=q:8443", and "<local>;*.example.com;10.*").
ProxySettings ParseProxySettings(const std::wstring& proxy, const std::wstring& bypass);

// The proxy a transfer of `url` uses, as "host:port", or "" for a direct one.
std::wstring ProxyForUrl(const ProxySettings& settings, const std::wstring& url);

// Where a transfer's proxy comes from, as the log names it.
enum class ProxySource { kDirect, kManual, kMachine, kScript, kWpad, kSwitch };
const wchar_t* ProxySourceName(ProxySource source);

// The run's configuration: a manual proxy (or none), or a configuration
// script named or found by automatic detection (WPAD), with the manual proxy
// as what a script that fails leaves.
struct ProxyConfig {
    ProxySource source = ProxySource::kDirect;  // kManual, kMachine or kSwitch with `manual`
    ProxySettings manual;
    bool autoDetect = false;  // find the script by WPAD (DHCP, then DNS)
    std::wstring scriptUrl;   // the configuration script's address

    bool Automatic() const { return autoDetect || !scriptUrl.empty(); }
};

// /PROXY=: "direct", a script's http(s):// address, or "host:port" (port 1
// to 65535). False for anything else.
bool ParseProxySwitch(const std::wstring& value, ProxyConfig* config);

// A script's answer ("PROXY a:1; PROXY b:2; DIRECT", or WinHTTP's
// "a:1;b:2"): the proxies in order, "" for a direct connection; entries of
// other kinds (SOCKS, HTTPS: a TLS connection to the proxy) are left out.
// The script comes from the network: a transfer tries at most
// kMaxScriptProxies of its entries, each up to its own connect time-out.
constexpr size_t kMaxScriptProxies = 8;
std::vector<std::wstring> ParseProxyList(const std::wstring& answer);

// The current user's whole configuration (automatic detection, script,
// manual proxy), or the machine's WinHTTP proxy when the process runs as
// SYSTEM, which has no user settings.
ProxyConfig ReadProxyConfig();

// Reads the current user's manual proxy now.
ProxySettings ReadSystemProxySettings();
// The configuration every transfer uses: the user's, read once per process,
// unless a test has put its own in place. Any thread.
const ProxySettings& SystemProxySettings();
void SetProxySettingsForTesting(const ProxySettings* settings);
