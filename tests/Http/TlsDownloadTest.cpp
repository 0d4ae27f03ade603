// Downloads from a real https server (nginx on 127.0.0.2, started by
// with-proxy.sh): the address fallback keeps the host name for TLS, and a
// redirect never leaves https for http. Skipped without the server.
#include <curl/curl.h>

#include "DownloadTestSupport.h"

namespace {

class TlsDownloadTest : public DownloadTest {
protected:
    void SetUp() override {
        if (!servers.HasTls()) GTEST_SKIP() << "no https server (run through with-proxy.sh)";
        DownloadTest::SetUp();
    }
    ScriptServers servers;
};

// The system resolves "localhost" to 127.0.0.1, where nothing listens at the
// server's port; the own resolver answers with the server's address. The
// retry there keeps the name: the server sees it as the TLS server name and
// in Host, as it would have without the detour.
TEST_F(TlsDownloadTest, AddressFallbackKeepsTheHostNameForTls) {
    const std::string body = TestBytes(120 * 1024, 22);
    servers.PutTlsFile("pkg.exe", body);
    dns.SetReply(FakeDns::Addresses({servers.tlsAddress}));

    ASSERT_TRUE(StartDownload(servers.TlsUrl("localhost", "/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone(30000));
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    EXPECT_EQ(dns.QueryCount(), 1u);
    const auto log = servers.TlsLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "200 \"localhost\" \"localhost\" \"GET /pkg.exe HTTP/1.1\"");
}

// A redirect from https to http is refused (a tampered answer must not
// downgrade the transfer), and the plain server never hears of it; a redirect
// that stays on https is followed.
TEST_F(TlsDownloadTest, RedirectFromHttpsToHttpIsRefused) {
    const std::string body = TestBytes(40 * 1024, 23);
    server.Route("/plain", TestHttpResponse::Ok(body));
    servers.PutTlsFile("pkg.exe", body);
    const std::string toHttp = "/to-http?port=" + std::to_string(server.Port());

    ASSERT_TRUE(StartDownload(servers.TlsUrl(servers.tlsAddress, toHttp), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone(30000));
    EXPECT_EQ(record.type, 5);
    EXPECT_EQ(record.code, CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(server.RequestCount(), 0u);

    task.Stop();
    record = DownloadRecord();
    ASSERT_TRUE(StartDownload(servers.TlsUrl(servers.tlsAddress, "/to-https"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
}

}  // namespace
