// Downloads through a real forward proxy (tinyproxy on loopback, started by
// with-proxy.sh): a resumed download passes the proxy with its range, an
// address on the bypass list goes direct, and an https download goes through
// the proxy's tunnel. Skipped when no proxy was started.
#include <cstdlib>
#include <cstring>

#include "DownloadTestSupport.h"
#include "Http/SystemProxy.h"

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

}  // namespace
