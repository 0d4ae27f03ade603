// Which transfers go through the user's proxy: per-scheme entries, the bypass
// list's wildcards and "<local>", and the configuration as Windows stores it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "Http/SystemProxy.h"

namespace {

TEST(SystemProxy, ChoosesTheProxyPerSchemeAndHonoursTheBypassList) {
    struct Case {
        const wchar_t* proxy;
        const wchar_t* bypass;
        const wchar_t* url;
        const wchar_t* expected;
    } cases[] = {
        {L"", L"", L"http://a.example/x", L""},
        {L"127.0.0.1:3128", L"", L"http://a.example/x", L"127.0.0.1:3128"},
        {L"127.0.0.1:3128", L"", L"https://a.example/x", L"127.0.0.1:3128"},
        {L"http://127.0.0.1:3128", L"", L"http://a.example/x", L"127.0.0.1:3128"},
        {L"http=127.0.0.1:1;https=127.0.0.1:2", L"", L"http://a.example/", L"127.0.0.1:1"},
        {L"http=127.0.0.1:1;https=127.0.0.1:2", L"", L"HTTPS://a.example/", L"127.0.0.1:2"},
        {L"https=127.0.0.1:2", L"", L"http://a.example/", L""},
        {L"p:1", L"<local>", L"http://intranet/x", L""},
        {L"p:1", L"<local>", L"http://a.example/x", L"p:1"},
        {L"p:1", L"*.example.com", L"http://cdn.Example.COM:8080/x", L""},
        {L"p:1", L"*.example.com", L"http://example.com/x", L"p:1"},
        {L"p:1", L"127.0.0.*; localhost", L"http://127.0.0.1:8080/x", L""},
        {L"p:1", L"127.0.0.*; localhost", L"http://localhost/x", L""},
        {L"p:1", L"127.0.0.1:9000", L"http://127.0.0.1:8080/x", L"p:1"},
        {L"p:1", L"127.0.0.1:9000", L"http://127.0.0.1:9000/x", L""},
        {L"p:1", L"a*c", L"http://user@abbbc/x", L""},
    };
    for (const Case& c : cases) {
        ProxySettings settings = ParseProxySettings(c.proxy, c.bypass);
        EXPECT_EQ(c.expected, ProxyForUrl(settings, c.url)) << c.proxy << " | " << c.bypass << " | " << c.url;
    }
}

// Writes the user's connection settings the way the Internet Options dialog
// stores them and removes them again, whatever happens in between.
class UserProxyConfiguration {
public:
    UserProxyConfiguration(const std::string& proxy, const std::string& bypass, uint32_t flags = 3,
                           const std::string& script = "") {
        std::string blob;
        auto put32 = [&blob](uint32_t v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
        put32(0x46);  // version of the layout
        put32(1);     // change counter
        put32(flags);  // 1 direct allowed, 2 manual proxy, 4 script, 8 automatic detection
        put32(static_cast<uint32_t>(proxy.size()));
        blob += proxy;
        put32(static_cast<uint32_t>(bypass.size()));
        blob += bypass;
        put32(static_cast<uint32_t>(script.size()));
        blob += script;
        blob.append(32, '\0');
        RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr);
        RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                       static_cast<DWORD>(blob.size()));
    }
    ~UserProxyConfiguration() {
        RegDeleteValueW(key_, kValue);
        RegCloseKey(key_);
    }

private:
    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";
    HKEY key_ = nullptr;
};

TEST(SystemProxy, ReadsTheCurrentUsersConfiguration) {
    ProxySettings read;
    {
        UserProxyConfiguration configured("127.0.0.1:3128", "<local>;*.example.com");
        read = ReadSystemProxySettings();
    }
    EXPECT_EQ(L"127.0.0.1:3128", ProxyForUrl(read, L"http://a.example.org/"));
    EXPECT_EQ(L"", ProxyForUrl(read, L"http://www.example.com/"));
    EXPECT_EQ(L"", ProxyForUrl(read, L"http://intranet/"));
    EXPECT_TRUE(ReadSystemProxySettings().Empty()) << "configuration removed again";

    UserProxyConfiguration automatic("127.0.0.1:3128", "", 1 | 2 | 4 | 8, "http://127.0.0.1:9/proxy.pac");
    const ProxyConfig config = ReadProxyConfig();
    EXPECT_TRUE(config.autoDetect);
    EXPECT_EQ(L"http://127.0.0.1:9/proxy.pac", config.scriptUrl);
    EXPECT_EQ(ProxySource::kManual, config.source);
    EXPECT_EQ(L"127.0.0.1:3128", config.manual.forAll);
}

TEST(SystemProxy, ReadsTheProxySwitchAndScriptAnswers) {
    const struct {
        const wchar_t* value;
        bool valid;
        const wchar_t* manual;
        const wchar_t* script;
    } switches[] = {
        {L"127.0.0.1:3128", true, L"127.0.0.1:3128", L""}, {L"DIRECT", true, L"", L""},
        {L"http://127.0.0.1:8/p.pac", true, L"", L"http://127.0.0.1:8/p.pac"},
        {L"proxy.corp:80", true, L"proxy.corp:80", L""}, {L"proxy.corp", false, L"", L""},
        {L"p:0", false, L"", L""}, {L"p:65536", false, L"", L""}, {L":80", false, L"", L""},
        {L"p q:80", false, L"", L""}, {L"ftp://p/x.pac", false, L"", L""}, {L"http://", false, L"", L""},
    };
    for (const auto& c : switches) {
        ProxyConfig config;
        ASSERT_EQ(c.valid, ParseProxySwitch(c.value, &config)) << c.value;
        if (!c.valid) continue;
        EXPECT_EQ(ProxySource::kSwitch, config.source) << c.value;
        EXPECT_EQ(c.manual, config.manual.forAll) << c.value;
        EXPECT_EQ(c.script, config.scriptUrl) << c.value;
    }
    using List = std::vector<std::wstring>;
    EXPECT_EQ((List{L"a:1", L"b:2", L""}), ParseProxyList(L"PROXY a:1; PROXY b:2; DIRECT"));
    EXPECT_EQ((List{L"a:1", L"b:2"}), ParseProxyList(L"a:1;b:2"));
    EXPECT_EQ((List{L"d:4"}), ParseProxyList(L"SOCKS s:1; HTTPS c:3; PROXY d:4;"));
    EXPECT_EQ((List{}), ParseProxyList(L""));
    // A script's answer is hostile: a long list is cut, so that one transfer's failovers stay bounded.
    std::wstring many;
    for (int i = 0; i < 30; ++i) many += L"PROXY p:1; ";
    EXPECT_EQ(kMaxScriptProxies, ParseProxyList(many).size());
}

}  // namespace
