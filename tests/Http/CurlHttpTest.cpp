// The transfer as a task sees it: statuses, the header map, the sink, resume
// and progress, through the download engine's scheduler.
#include "support/HttpTestSupport.h"

#include <curl/curl.h>

#include "Http/DownloadWriteFile.h"

namespace {

// Stands in for a Stop() on the main thread that lands between the header
// callback's check of the alive flag and its handling of the status line.
class CancelledAfterTheAliveCheck : public CCurlHttp {
public:
    size_t OnRecieveHeader(const char* data, size_t length) override {
        if (!cancelled_) {
            cancelled_ = true;
            SetAlive(false);  // what Stop() does: alive cleared, then the streams closed
            CloseStreams();
        }
        return CCurlHttp::OnRecieveHeader(data, length);
    }

private:
    bool cancelled_ = false;
};

}  // namespace

TEST_F(HttpEngineTest, RedirectChainReportsBothStatusesAndKeepsTheFieldsTheProgramReads) {
    TestHttpResponse redirect = TestHttpResponse::Redirect(302, "/b");
    redirect.headers.push_back({"content-range", "bytes 0-1/2"});
    redirect.headers.push_back({"Date", "from-302"});
    TestHttpResponse final = TestHttpResponse::Ok("final body");
    final.headers.push_back({"Date", "  from-200  "});
    final.headers.push_back({"X-Unread", "dropped"});
    server.Route("/a", redirect);
    server.Route("/b", final);
    ProbeTask task;
    task.SetUrl(server.WideUrl("/a"));
    ASSERT_TRUE(task.Submit());
    ASSERT_TRUE(task.WaitDone());
    EXPECT_EQ(task.doneResult, CURLE_OK);
    EXPECT_EQ(task.body, "final body");
    ASSERT_EQ(task.statuses, (std::vector<int32_t>{302, 200}));
    // The 302's snapshot is not checked: the worker may already have read the
    // second response's fields by the time its notification runs.
    const ProtoValue& atEnd = task.headersAtStatus[1];
    EXPECT_EQ(atEnd.Get(L"content-range").string(), L"bytes 0-1/2");  // an earlier response's, named as received
    EXPECT_EQ(atEnd.Get(L"Date").string(), L"from-200");  // trimmed; the later response wins
    EXPECT_EQ(atEnd.Get(L"Content-Length").string(), L"10");
    EXPECT_FALSE(atEnd.Has(L"X-Unread") || atEnd.Has(L"Location"));  // never read, never kept
}

TEST_F(HttpEngineTest, ErrorStatusRefusesTheBodyWithAWriteError) {
    server.Route("/gone", TestHttpResponse::Status(404, std::string(5000, 'e')));
    ProbeTask task;
    task.SetUrl(server.WideUrl("/gone"));
    ASSERT_TRUE(task.Submit());
    ASSERT_TRUE(task.WaitDone());
    EXPECT_EQ(task.doneResult, CURLE_WRITE_ERROR);
    EXPECT_EQ(task.body, "");
    ASSERT_FALSE(task.statuses.empty());
    for (int32_t status : task.statuses) EXPECT_EQ(status, 404);  // once per header line
}

TEST_F(HttpEngineTest, ResumedRangeAppendsToThePartialBody) {
    TestHttpResponse file = TestHttpResponse::Ok("0123456789ABCDEF");
    file.honourRange = true;
    server.Route("/file", file);
    ProbeTask task;
    task.SetUrl(server.WideUrl("/file"));
    task.sinkStart = "01234";
    task.resumeRequested = true;
    task.SetResumeOffset(5);
    ASSERT_TRUE(task.Submit());
    ASSERT_TRUE(task.WaitDone());
    EXPECT_EQ(task.doneResult, CURLE_OK);
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=5-");
    EXPECT_EQ(task.statuses, (std::vector<int32_t>{206}));
    EXPECT_EQ(task.headersAtStatus[0].Get(L"Content-Length").string(), L"11");
    EXPECT_EQ(task.body, "0123456789ABCDEF");
}

TEST_F(HttpEngineTest, ServerIgnoringTheRangeRestartsTheSinkAtZero) {
    server.Route("/file", TestHttpResponse::Ok("0123456789ABCDEF"));  // answers 200 with everything
    LogCapture log;
    ProbeTask task;
    task.SetUrl(server.WideUrl("/file"));
    task.sinkStart = "stale";
    task.resumeRequested = true;
    task.wholeSize = 16;
    task.SetResumeOffset(5);
    ASSERT_TRUE(task.Submit());
    ASSERT_TRUE(task.WaitDone());
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=5-");
    EXPECT_EQ(task.statuses, (std::vector<int32_t>{200}));
    EXPECT_EQ(task.body, "0123456789ABCDEF");  // not "stale0123..."
    EXPECT_EQ(log.Count(L"httpcode==200 不支持断点续传，清空文件"), 1u);
}

TEST_F(HttpEngineTest, NoRangeWithoutAnOffsetAndNoResetWithoutTheFlag) {
    server.Route("/file", TestHttpResponse::Ok("body"));
    ProbeTask task;
    task.SetUrl(server.WideUrl("/file"));
    task.sinkStart = "kept:";
    ASSERT_TRUE(task.Submit());
    ASSERT_TRUE(task.WaitDone());
    EXPECT_FALSE(server.Requests()[0].HasHeader("Range"));
    EXPECT_EQ(task.body, "kept:body");
}

TEST_F(HttpEngineTest, ByteCountsAreThrottledAndOnlyWhenAskedFor) {
    TestHttpResponse drip = TestHttpResponse::Ok(std::string(40 * 1000, 'd'));
    drip.pieceSize = 1000;
    drip.delayBetweenPiecesMs = 15;
    server.Route("/drip", drip);
    ProbeTask quiet;
    quiet.SetUrl(server.WideUrl("/drip"));
    ASSERT_TRUE(quiet.Submit());
    ProbeTask loud;
    loud.SetUrl(server.WideUrl("/drip"));
    loud.reportProgress = true;
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(loud.Submit());
    ASSERT_TRUE(quiet.WaitDone());
    ASSERT_TRUE(loud.WaitDone());
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(quiet.progressCalls, 0);
    EXPECT_EQ(loud.body.size(), 40000u);
    EXPECT_GE(loud.progressCalls, 1);
    // More than 100 ms between reports; the bytes after the last report are never reported.
    EXPECT_LE(loud.progressCalls, static_cast<int>(elapsed / 100) + 1);
    EXPECT_LE(loud.progressBytes, 40000u);
    EXPECT_GT(loud.progressBytes, 0u);
}

// A cancel racing the header of a "200 to a range" answer never empties or
// deletes the partial file that the next run resumes.
// Regression: the reset ran on the sink that the cancel had just closed, and
// resetting a closed file sink deletes the file.
TEST_F(HttpEngineTest, CancelRacingTheHeaderOfAnAnswerWithoutRangeKeepsThePartialFile) {
    server.Route("/file", TestHttpResponse::Ok("0123456789"));  // Range ignored: 200
    TempDir dir;
    const std::wstring path = dir.File(L"partial.bin");
    {
        FILE* f = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        std::fputs("01234", f);
        std::fclose(f);
    }
    CRefPtr<CancelledAfterTheAliveCheck> transfer(new CancelledAfterTheAliveCheck());
    auto* sink = new DownloadWriteFile();
    ASSERT_TRUE(sink->Open(path));
    transfer->SetSink(sink);
    transfer->SetResumeRequested(true);
    ASSERT_TRUE(transfer->Configure(server.WideUrl("/file"), CCurlHttp::kMethodGet, HttpTimeouts(), 5));
    // This thread plays the worker; the bound keeps a fault from hanging the test.
    curl_easy_setopt(transfer->EasyHandle(), CURLOPT_TIMEOUT, 10L);
    EXPECT_NE(curl_easy_perform(transfer->EasyHandle()), CURLE_OK);
    EXPECT_EQ(ReadFileBytes(path), "01234");
}
