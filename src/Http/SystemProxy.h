#pragma once
// The proxy that Windows has configured for the current user (the settings
// browsers use), and which transfer goes through it. A transfer whose URL
// matches the bypass list, or for whose scheme no proxy is set, goes direct.
// Automatic detection and configuration scripts are not evaluated.
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

// Reads the current user's configuration now.
ProxySettings ReadSystemProxySettings();
// The configuration every transfer uses: the user's, read once per process,
// unless a test has put its own in place. Any thread.
const ProxySettings& SystemProxySettings();
void SetProxySettingsForTesting(const ProxySettings* settings);
