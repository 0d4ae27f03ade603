// The fallback order of downloads: same-address retries, mirrors, one
// resolver run on the main URL's host and the resolved addresses; the
// resolver's life against the task's.
#include "DownloadTestSupport.h"
#include "Http/ProxyResolver.h"

#include <curl/curl.h>

#include <atomic>
#include <memory>

#include "Runtime/MainThreadDispatcher.h"

namespace {

// 404 for requests whose Host is "localhost...", the body otherwise.
TestHttpServer::Handler NotFoundForLocalhost(const std::string& body) {
    return [body](const TestHttpRequest& request) {
        if (request.Header("Host").compare(0, 9, "localhost") == 0) return TestHttpResponse::Status(404, "no");
        return TestHttpResponse::Ok(body);
    };
}

// While in place, the resolver thread of `task` is kept busy for holdMs in
// the wake-up post of its result: it has answered but not yet ended.
class SlowResolverExit {
public:
    SlowResolverExit(CHttpDownloadFile& task, DWORD holdMs) {
        task_ = &task;
        holdMs_ = holdMs;
        held_ = false;
        SetWakeupPosterForTesting(&SlowResolverExit::Post);
    }
    ~SlowResolverExit() {
        SetWakeupPosterForTesting(nullptr);
        task_ = nullptr;
    }
    bool WasHeld() const { return held_; }

private:
    static BOOL WINAPI Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        const BOOL posted = ::PostMessageW(window, message, wParam, lParam);
        CHttpDownloadFile* task = task_.load();
        if (task && ::GetCurrentThreadId() == task->Resolver().GetThreadId()) {
            held_ = true;
            ::Sleep(holdMs_);
        }
        return posted;
    }
    static std::atomic<CHttpDownloadFile*> task_;
    static DWORD holdMs_;
    static std::atomic<bool> held_;
};
std::atomic<CHttpDownloadFile*> SlowResolverExit::task_{nullptr};
DWORD SlowResolverExit::holdMs_ = 0;
std::atomic<bool> SlowResolverExit::held_{false};

}  // namespace

TEST(DownloadHostName, TakesTheHostOfAUrl) {
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://dl.korvel.test:8080/pkg/a.exe"), L"dl.korvel.test");
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://localhost/x?y=1"), L"localhost");
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://127.0.0.1:81"), L"127.0.0.1");
    EXPECT_EQ(CAddressFallback::HostNameOf(L"localhost:80/x"), L"localhost");
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://ab/x"), L"ab");
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://:8080/x"), L"");
    // Regressions: a hyphen is part of a host name, and a user part is not.
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://dl-cdn.korvel.test/a"), L"dl-cdn.korvel.test");
    EXPECT_EQ(CAddressFallback::HostNameOf(L"http://user:pw@cdn.korvel.test/a@b"), L"cdn.korvel.test");
}

// "main;B;" with main as the URL gives the list main, B; a 404 on main is not
// repeated and the mirror is tried next.
TEST_F(DownloadTest, NotFoundOnMainGoesStraightToTheNextMirror) {
    const std::string body = TestBytes(50 * 1024, 11);
    server.Route("/main.exe", TestHttpResponse::Status(404));
    server.Route("/b.exe", TestHttpResponse::Ok(body));
    const std::wstring main = server.WideUrl("/main.exe");
    const std::wstring mirror = server.WideUrl("/b.exe");

    LogCapture log;
    ASSERT_TRUE(StartDownload(main, static_cast<int64_t>(body.size()), main + L";" + mirror + L";"));
    ASSERT_EQ(task.UrlList().size(), 2u);
    EXPECT_EQ(task.UrlList()[0], main);
    EXPECT_EQ(task.UrlList()[1], mirror);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_EQ(server.RequestCount("/main.exe"), 1u);
    EXPECT_EQ(server.RequestCount("/b.exe"), 1u);
    EXPECT_EQ(dns.QueryCount(), 0u);
    EXPECT_EQ(log.Count(L"CHttpDownloadFile::Done() type:4 code:404  url:" + main + L" 下载失败，尝试使用备用地址:" + mirror), 1u);
}

// A libcurl error is tried 3 times on one address before the next mirror.
TEST_F(DownloadTest, RefusedAddressGetsThreeAttemptsThenTheMirror) {
    const std::string body = TestBytes(20 * 1024, 12);
    server.Route("/b.exe", TestHttpResponse::Ok(body));
    const std::wstring dead = L"http://127.0.0.1:" + std::to_wstring(UnusedLoopbackPort()) + L"/main.exe";
    const long createdBefore = CCurlBase::CreatedCount();

    ASSERT_TRUE(StartDownload(dead, static_cast<int64_t>(body.size()), server.WideUrl("/b.exe")));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_EQ(CCurlBase::CreatedCount() - createdBefore, 4);  // 3 on the dead address, 1 on the mirror
    EXPECT_EQ(server.RequestCount("/b.exe"), 1u);
}

// End to end on loopback: the main host "localhost" answers 404, the fake
// resolver gives 127.0.0.1, and the retry at that address succeeds with the
// host name kept in the request.
TEST_F(DownloadTest, AddressFallbackRetriesOnTheResolvedAddress) {
    const std::string body = TestBytes(80 * 1024, 13);
    server.RouteSequence("/pkg.exe", {TestHttpResponse::Status(404), TestHttpResponse::Ok(body)});
    dns.SetReply(FakeDns::Addresses({"127.0.0.1"}));

    LogCapture log;
    ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe?v=2"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_EQ(dns.QueryCount(), 1u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Host"), "localhost:" + std::to_string(server.Port()));
    EXPECT_EQ(requests[1].Header("Host"), "localhost:" + std::to_string(server.Port()));
    EXPECT_EQ(requests[1].target, "/pkg.exe?v=2");  // path and query kept
    EXPECT_TRUE(task.OwnDnsFallbackUsed());          // the fallback runs once per Download
    EXPECT_EQ(log.Count(L"OnSpareDNSResult 解析成功 code:0, domain:localhost, ip_list:127.0.0.1"), 1u);
}

// Through a proxy (the server itself: 404 for a path it has no route for)
// the own resolver is not asked: the proxy resolves the name, and addresses
// of ours would go round it.
TEST_F(DownloadTest, ProxiedTransferNeverTakesTheAddressFallback) {
    ProxyConfig config;
    config.manual.forAll = L"127.0.0.1:" + std::to_wstring(server.Port());
    CProxyResolver::Instance().Configure(&config);
    LogCapture log;
    ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe"), 100));
    ASSERT_TRUE(WaitDone());
    CProxyResolver::Instance().Configure(nullptr);
    EXPECT_EQ(record.code, 404);
    EXPECT_EQ(dns.QueryCount(), 0u);
    EXPECT_EQ(log.Count(L"CAddressFallback not used: "), 1u);
}

// Each resolved address gets its own 3 attempts, in answer order; the
// connection goes to the address even though the system resolves the name.
TEST_F(DownloadTest, EachResolvedAddressIsTriedInTurn) {
    const std::string body = TestBytes(10 * 1024, 14);
    server.RouteSequence("/pkg.exe", {TestHttpResponse::Status(404), TestHttpResponse::Ok(body)});
    // 127.0.0.2 is loopback, but the server listens on 127.0.0.1 only.
    dns.SetReply(FakeDns::Addresses({"127.0.0.2", "127.0.0.1"}));
    const long createdBefore = CCurlBase::CreatedCount();

    ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_EQ(CCurlBase::CreatedCount() - createdBefore, 5);  // localhost, 3 x 127.0.0.2, 127.0.0.1
    EXPECT_EQ(server.RequestCount(), 2u);
}

// An empty main URL fails as a malformed address and the mirrors follow;
// with no mirror either there is nothing to download.
TEST_F(DownloadTest, EmptyMainUrlFailsAsMalformedAndTheMirrorsFollow) {
    const std::string body = TestBytes(30 * 1024, 15);
    server.Route("/b.exe", TestHttpResponse::Ok(body));
    const std::wstring mirror = server.WideUrl("/b.exe");

    LogCapture log;
    ASSERT_TRUE(StartDownload(L"", static_cast<int64_t>(body.size()), L";" + mirror + L";"));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(dns.QueryCount(), 0u);
    EXPECT_EQ(log.Count(L"type:5 code:" + std::to_wstring(CURLE_URL_MALFORMAT) + L"  url: 下载失败，尝试使用备用地址:" + mirror),
              1u);

    task.Stop();
    EXPECT_FALSE(StartDownload(L"", static_cast<int64_t>(body.size()), L";;"));
    EXPECT_TRUE(task.UrlList().empty());
}

// The resolver has posted its answer and is still busy on its way out for
// longer than a short stop would wait: the download waits for it to end and
// never terminates it.
TEST_F(DownloadTest, ResolverThatAnsweredIsWaitedForNotTerminated) {
    const std::string body = TestBytes(10 * 1024, 16);
    server.RouteSequence("/pkg.exe", {TestHttpResponse::Status(404), TestHttpResponse::Ok(body)});
    dns.SetReply(FakeDns::Addresses({"127.0.0.1"}));
    SlowResolverExit slow(task, 600);

    LogCapture log;
    ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_TRUE(slow.WasHeld()) << "the resolver was never held: nothing was shown";
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_FALSE(task.Resolver().IsRunning());
    EXPECT_EQ(log.Count(L"线程结束超时"), 0u) << "the stop gave up on the resolver thread";
}

// Resolvers that do not answer: the completion carries the failure that
// started the fallback, after each resolver's wait.
TEST_F(DownloadTest, SilentResolversEndWithTheOriginalFailure) {
    server.Route("/pkg.exe", TestHttpResponse::Status(404));
    task.Resolver().SetResolvers({dns.Endpoint(), dns.Endpoint(), dns.Endpoint()});

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 100));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 4);
    EXPECT_EQ(record.code, 404);
    EXPECT_EQ(dns.QueryCount(), 3u);
    EXPECT_GE(record.doneTick - server.Requests()[0].receivedTick, 3 * kShortDnsWaitMs);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(record.completions, 1);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_FALSE(task.ResolverRunning());
}

// The same with the built-in wait of 1500 ms for each of four resolvers.
TEST_F(DownloadTest, SilentResolversAtTheDefaultWaitTakeAboutSixSeconds) {
    server.Route("/pkg.exe", TestHttpResponse::Status(404));
    task.Resolver().SetResolvers({dns.Endpoint(), dns.Endpoint(), dns.Endpoint(), dns.Endpoint()});
    task.Resolver().SetWaitMs(CDNSThread::kDefaultWaitMs);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 100));
    ASSERT_TRUE(WaitDone(15000));
    EXPECT_EQ(record.type, 4);
    EXPECT_EQ(record.code, 404);
    EXPECT_EQ(dns.QueryCount(), 4u);
    EXPECT_GE(record.doneTick - server.Requests()[0].receivedTick, 4 * CDNSThread::kDefaultWaitMs - 50);
}

TEST_F(DownloadTest, ResolverErrorEndsWithTheOriginalFailure) {
    server.Route("/pkg.exe", TestHttpResponse::Status(403));
    dns.SetReply(FakeDns::ErrorCode(3));
    LogCapture log;
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 100));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 4);
    EXPECT_EQ(record.code, 403);
    EXPECT_EQ(log.Count(L"OnSpareDNSResult 失败 code:-1, domain:127.0.0.1"), 1u);
    EXPECT_EQ(log.Count(L"CHttpDownloadFile::OnDNSResult() 解析DNS失败"), 1u);
}

// A host name shorter than 3 characters starts no resolver run; the owner
// still gets the failure.
TEST_F(DownloadTest, ShortHostNameEndsWithTheFailureInsteadOfNothing) {
    const std::wstring url = L"http://:" + std::to_wstring(UnusedLoopbackPort()) + L"/pkg.exe";  // no host at all
    ASSERT_TRUE(StartDownload(url, 100));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 5);
    EXPECT_EQ(record.code, CURLE_URL_MALFORMAT);
    EXPECT_EQ(dns.QueryCount(), 0u);
    EXPECT_FALSE(task.ResolverRunning());
    EXPECT_TRUE(task.UrlList().empty());
}

// Stop() while the resolver runs cancels the run: no completion, no retry.
TEST_F(DownloadTest, StopDuringTheResolverRunCancelsIt) {
    server.SetHandler(NotFoundForLocalhost("x"));
    dns.SetReplies({FakeDns::Silent(), FakeDns::Addresses({"127.0.0.1"})});
    task.Resolver().SetResolvers({dns.Endpoint(), dns.Endpoint()});
    task.Resolver().SetWaitMs(600);
    ASSERT_TRUE(StartDownload(LocalhostUrl("/pkg.exe"), 1));
    ASSERT_TRUE(PumpMessagesUntil([this] { return dns.QueryCount() == 1; }, 10000));
    EXPECT_TRUE(task.ResolverRunning());
    const DWORD resolverThread = task.Resolver().GetThreadId();
    task.Stop();
    EXPECT_FALSE(task.ResolverRunning());
    EXPECT_TRUE(ThreadEnded(resolverThread, 5000));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(dns.QueryCount(), 1u);  // the thread ended before asking the second resolver
    EXPECT_EQ(record.completions, 0);
    EXPECT_EQ(server.RequestCount(), 1u);
}

// Teardown: destroying the task stops its resolver thread first.
TEST_F(DownloadTest, DestroyingTheTaskStopsItsResolver) {
    server.Route("/pkg.exe", TestHttpResponse::Status(404));
    auto owned = std::make_unique<CHttpDownloadFile>();
    record.Attach(*owned);
    owned->Resolver().SetResolvers({dns.Endpoint(), dns.Endpoint(), dns.Endpoint()});
    owned->Resolver().SetWaitMs(400);
    ASSERT_TRUE(owned->Download(L"", server.WideUrl("/pkg.exe"), target, 1));
    ASSERT_TRUE(PumpMessagesUntil([this] { return dns.QueryCount() == 1; }, 10000));
    const DWORD resolverThread = owned->Resolver().GetThreadId();
    owned.reset();
    EXPECT_TRUE(ThreadEnded(resolverThread, 5000));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(dns.QueryCount(), 1u);
    EXPECT_EQ(record.completions, 0);
}

// A resolver result that was already posted when its task went away is
// dropped without touching the freed task.
TEST_F(DownloadTest, StaleResolverResultIsIgnored) {
    server.SetHandler(NotFoundForLocalhost("x"));
    dns.SetReply(FakeDns::Addresses({"127.0.0.1"}));
    auto owned = std::make_unique<CHttpDownloadFile>();
    record.Attach(*owned);
    owned->Resolver().SetResolvers({dns.Endpoint()});
    LogCapture log;
    ASSERT_TRUE(owned->Download(L"", LocalhostUrl("/pkg.exe"), target, 1));
    ASSERT_TRUE(PumpMessagesUntil([&] { return owned->ResolverRunning(); }, 10000));
    // Let the resolver answer, post and end, without running the posted result.
    ASSERT_TRUE(SpinUntil([&] { return !owned->Resolver().IsRunning(); }, 10000));
    owned.reset();
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(log.Count(L"DNS回调失效 找不到相关任务"), 1u);
    EXPECT_EQ(record.completions, 0);
    EXPECT_EQ(server.RequestCount(), 1u);
}

// After a completion that ended a fallback, Stop() and a new Download() run
// again; a Download() during the retry delay is refused.
TEST_F(DownloadTest, NewDownloadAfterAFailedFallbackRunsAgain) {
    server.Route("/pkg.exe", TestHttpResponse::Status(404));
    server.Route("/ok.exe", TestHttpResponse::Ok("done"));
    dns.SetReply(FakeDns::ErrorCode(2));
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 4, server.WideUrl("/pkg.exe?m")));
    ASSERT_TRUE(PumpMessagesUntil([this] { return task.IsRetryPending(); }, 10000));
    EXPECT_FALSE(StartDownload(server.WideUrl("/ok.exe"), 4));  // the mirror is still to come
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 4);
    EXPECT_EQ(record.code, 404);
    task.Stop();
    ASSERT_TRUE(StartDownload(server.WideUrl("/ok.exe"), 4));
    ASSERT_TRUE(PumpMessagesUntil([this] { return record.completions == 2; }, 10000));
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(Target(), "done");
}
