// Downloads through a real forward proxy (tinyproxy on loopback, started by
// with-proxy.sh): a resumed download passes the proxy with its range, an
// address on the bypass list goes direct, an https download goes through
// the proxy's tunnel, and a script's dead first proxy is passed over.
// Skipped when no proxy was started.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DownloadTestSupport.h"
#include "Http/ProxyResolver.h"
#include "Http/SystemProxy.h"
#include "support/TestHttpServer.h"

namespace {

class ProxyDownloadTest : public DownloadTest {
protected:
    void SetUp() override {
        const char* port = std::getenv("KV_PROXY_PORT");
        if (!port || !*port) GTEST_SKIP() << "no proxy (run through with-proxy.sh)";
        DownloadTest::SetUp();
        const std::wstring proxy = L"127.0.0.1:" + std::wstring(port, port + std::strlen(port));
        settings = ParseProxySettings(proxy, L"localhost");
        SetProxySettingsForTesting(&settings);
    }
    void TearDown() override {
        SetProxySettingsForTesting(nullptr);
        CProxyResolver::Instance().Configure(nullptr);
        CProxyResolver::Instance().SetEvaluator(nullptr);
        DownloadTest::TearDown();
    }
    ProxySettings settings;
    ScriptServers servers;
};

TEST_F(ProxyDownloadTest, ResumedDownloadGoesThroughTheProxyAndABypassedHostGoesDirect) {
    const std::string body = TestBytes(300 * 1024);
    TestHttpResponse file = TestHttpResponse::Ok(body);
    file.honourRange = true;
    server.Route("/pkg.exe", file);
    WriteBytes(target, body.substr(0, 100 * 1024));

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].Header("Via").find("tinyproxy"), std::string::npos) << "not through the proxy";
    EXPECT_EQ(requests[0].Header("Range"), "bytes=102400-");

    task.Stop();
    record = DownloadRecord();
    DeleteFileW(target.c_str());
    ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].HasHeader("Via")) << "a bypassed host went through the proxy";
}

// The proxy's answer to CONNECT opens the tunnel; it is not the server's
// answer, which comes through the tunnel and is the one that counts.
TEST_F(ProxyDownloadTest, HttpsDownloadGoesThroughTheProxysTunnel) {
    ASSERT_TRUE(servers.HasTls()) << "with-proxy.sh starts the https server too";
    const std::string body = TestBytes(200 * 1024, 21);
    servers.PutTlsFile("tunnel.exe", body);

    ASSERT_TRUE(StartDownload(servers.TlsUrl(servers.tlsAddress, "/tunnel.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    EXPECT_NE(servers.ProxyLog().find("CONNECT " + servers.tlsAddress + ":" + servers.tlsPort), std::string::npos)
        << "not through the proxy";
    EXPECT_EQ(servers.TlsLog(1).size(), 1u);
}

// A script's answer as Windows' WinHTTP gives it, a dead proxy first: the
// transfer moves on to the next one.
TEST_F(ProxyDownloadTest, ScriptsDeadFirstProxyIsPassedOver) {
    TestHttpServer dead;  // started and stopped: its port refuses
    ASSERT_TRUE(dead.Start());
    const std::wstring answer = L"127.0.0.1:" + std::to_wstring(dead.Port()) + L";127.0.0.1:" + settings.forAll.substr(10);
    dead.Stop();
    CProxyResolver::Instance().SetEvaluator([answer](const std::wstring&, const std::wstring&, DWORD, std::wstring* out,
                                                     DWORD*) {
        *out = answer;
        return true;
    });
    ProxyConfig config;
    config.scriptUrl = L"http://127.0.0.1:9/proxy.pac";
    CProxyResolver::Instance().Configure(&config);
    const std::string body = TestBytes(64 * 1024, 5);
    server.Route("/pkg.exe", TestHttpResponse::Ok(body));
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0) << record.code;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].Header("Via").find("tinyproxy"), std::string::npos) << "not through the second proxy";
}

// The logged-on user's own credentials (the in-process server as the
// proxy): a 407 offering Negotiate or NTLM is answered with a
// Proxy-Authorization of that scheme where Wine's security packages can make
// one (they need Samba's ntlm_auth); where they cannot, the 407 is the failure.
TEST_F(DownloadTest, NegotiateOrNtlmChallengeGetsTheUsersCredentialsOrEndsInThe407) {
    for (const std::string scheme : {"Negotiate", "NTLM"}) {
        TestHttpServer proxy;
        ASSERT_TRUE(proxy.Start());
        proxy.SetHandler([scheme](const TestHttpRequest&) {
            return TestHttpResponse::Status(407).With("Proxy-Authenticate", scheme);
        });
        ProxyConfig config;
        config.manual.forAll = L"127.0.0.1:" + std::to_wstring(proxy.Port());
        CProxyResolver::Instance().Configure(&config);
        record = DownloadRecord();
        ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe"), 1000));
        ASSERT_TRUE(WaitDone());
        task.Stop();
        CProxyResolver::Instance().Configure(nullptr);
        EXPECT_EQ(record.type, 4);
        EXPECT_EQ(record.code, 407);
        const auto requests = proxy.Requests();
        ASSERT_GE(requests.size(), 1u);
        EXPECT_FALSE(requests[0].HasHeader("Proxy-Authorization")) << "credentials offered before being asked";
        const std::string answer = requests.size() > 1 ? requests[1].Header("Proxy-Authorization") : "";
        if (!answer.empty()) {
            EXPECT_EQ(0u, answer.rfind(scheme + " ", 0)) << answer;
        }
        std::printf("%s: %s\n", scheme.c_str(), answer.empty() ? "Wine made no credentials" : answer.substr(0, 40).c_str());
    }
}

}  // namespace
