// The run's proxy routes from configuration scripts that WinHTTP evaluates,
// served on loopback: per host and once, without waiting, and the manual
// proxy behind a failing script. (The bound on a silent script and WPAD:
// scenarios silent_proxy and proxy_login.)
#include <gtest/gtest.h>

#include "Http/ProxyResolver.h"
#include "support/TestHttpServer.h"

namespace {

const char kScript[] =
    "function FindProxyForURL(url, host) {\n"
    "  if (host == 'localhost') return 'PROXY 127.0.0.1:3128; PROXY 127.0.0.1:3129; DIRECT';\n"
    "  return 'DIRECT';\n"
    "}\n";

class ProxyResolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        server.Route("/proxy.pac", TestHttpResponse::Ok(kScript).With("Content-Type", "application/x-ns-proxy-autoconfig"));
    }
    void TearDown() override { resolver.Configure(nullptr); }
    // Polls as the transfers' worker does; false when no route came in 10 s.
    bool WaitRoute(const std::wstring& url, ProxyRoute* route) {
        for (int i = 0; i < 500; ++i) {
            if (resolver.Route(url, route)) return true;
            ::Sleep(20);
        }
        return false;
    }
    CProxyResolver& resolver = CProxyResolver::Instance();
    TestHttpServer server;
    ProxyRoute route;
};

TEST_F(ProxyResolverTest, ScriptAnswersPerHostAndIsAskedOncePerHost) {
    ProxyConfig config;
    config.scriptUrl = server.WideUrl("/proxy.pac");
    resolver.Configure(&config);
    EXPECT_FALSE(resolver.Route(L"http://localhost:8080/a", &route)) << "the caller never waits for a script";
    ASSERT_TRUE(WaitRoute(L"http://localhost:8080/a", &route));
    // Wine's WinHTTP answers the first proxy only (Windows' all of them).
    EXPECT_EQ(L"127.0.0.1:3128", route.proxies.at(0));
    EXPECT_EQ(ProxySource::kScript, route.source);
    EXPECT_TRUE(resolver.Proxied(L"http://localhost:8080/b"));
    ASSERT_TRUE(WaitRoute(L"http://127.0.0.1:8080/a", &route));
    EXPECT_TRUE(route.Direct()) << route.why;
    const size_t fetched = server.RequestCount("/proxy.pac");
    ASSERT_TRUE(resolver.Route(L"http://localhost:8080/c", &route)) << "a host's answer is kept";
    EXPECT_EQ(fetched, server.RequestCount("/proxy.pac"));
}

TEST_F(ProxyResolverTest, ScriptThatFailsLeavesTheManualProxy) {
    ProxyConfig config;
    config.scriptUrl = server.WideUrl("/missing.pac");
    config.manual.forAll = L"127.0.0.1:3128";
    resolver.Configure(&config);
    ASSERT_TRUE(WaitRoute(L"http://localhost/a", &route));
    EXPECT_EQ((std::vector<std::wstring>{L"127.0.0.1:3128"}), route.proxies) << route.why;
}

}  // namespace
