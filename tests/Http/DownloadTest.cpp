// Downloads end to end against the in-process server: resume, the local-size
// rules, the announced-length check, progress and speed.
#include "DownloadTestSupport.h"

#include <cstdio>
#include <deque>
#include <tuple>

#include "Http/CurlWorkshop.h"
#include "Runtime/Handles.h"

namespace {
constexpr size_t kBodySize = 300 * 1024;
}

// The server closes the connection after part of the body; the retry asks
// for the rest and the file ends byte-identical to the source.
TEST_F(DownloadTest, ResumesAfterTheConnectionClosesMidBody) {
    const std::string body = TestBytes(kBodySize);
    TestHttpResponse cut = TestHttpResponse::Ok(body);
    cut.honourRange = true;
    cut.pieceSize = 16 * 1024;
    cut.closeAfterBodyBytes = 100 * 1024;
    TestHttpResponse rest = TestHttpResponse::Ok(body);
    rest.honourRange = true;
    server.RouteSequence("/pkg.exe", {cut, rest});

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body) << "file differs from the source";

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(100 * 1024) + "-");
    // Each status reports the total and where its run starts (speed 0).
    auto statusCall = [&](int64_t downloaded) {
        for (const auto& p : record.progress) {
            if (p.total == static_cast<int64_t>(body.size()) && p.downloaded == downloaded && p.speed == 0) return true;
        }
        return false;
    };
    EXPECT_TRUE(statusCall(0));
    EXPECT_TRUE(statusCall(100 * 1024));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(record.completions, 1);
}

// A server that ignores Range and answers 200: the partial file is emptied
// and the download starts again at 0.
TEST_F(DownloadTest, AnswerWithoutRangeRestartsTheFileAtZero) {
    const std::string body = TestBytes(kBodySize, 2);
    WriteBytes(target, std::string(1000, 'X'));
    server.Route("/pkg.exe", TestHttpResponse::Ok(body));  // Range ignored

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body);
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=1000-");
    ASSERT_FALSE(record.progress.empty());
    EXPECT_EQ(record.progress.front().total, static_cast<int64_t>(body.size()));
    EXPECT_EQ(record.progress.front().downloaded, 0);
}

TEST_F(DownloadTest, CompleteLocalFileMakesNoRequest) {
    const std::string body = TestBytes(5000);
    WriteBytes(target, body);
    server.Route("/pkg.exe", TestHttpResponse::Ok(body));

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 5000));
    ASSERT_TRUE(WaitDone(2000));
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    // Later scheduling passes must not complete the finished run again.
    SubmitDownload(&task);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(record.completions, 1);
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_TRUE(record.progress.empty());
    EXPECT_TRUE(Target() == body);
}

TEST_F(DownloadTest, LargerLocalFileIsEmptiedAndDownloadedAgain) {
    const std::string body = TestBytes(kBodySize, 3);
    WriteBytes(target, std::string(kBodySize + 10, 'Y'));
    server.Route("/pkg.exe", TestHttpResponse::Ok(body));

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_FALSE(server.Requests()[0].HasHeader("Range"));
}

// Without an expected size the file is always downloaded from 0, unchecked.
TEST_F(DownloadTest, UnknownSizeAlwaysDownloadsFromZero) {
    const std::string body = TestBytes(kBodySize, 4);
    WriteBytes(target, std::string(2000, 'Z'));
    TestHttpResponse ok = TestHttpResponse::Ok(body);
    ok.honourRange = true;
    server.Route("/pkg.exe", ok);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 0));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_FALSE(server.Requests()[0].HasHeader("Range"));
}

// A 206 whose length does not add up to the expected size ends the run with
// (3, 2007) at once, without retries.
TEST_F(DownloadTest, RangeAnswerOfTheWrongLengthFailsWithLengthMismatch) {
    const std::string body = TestBytes(kBodySize, 5);
    WriteBytes(target, body.substr(0, 1000));
    TestHttpResponse ok = TestHttpResponse::Ok(body);
    ok.honourRange = true;
    server.Route("/pkg.exe", ok);

    LogCapture log;
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size()) + 7));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 3);
    EXPECT_EQ(record.code, 2007);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(record.completions, 1);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=1000-");
    EXPECT_TRUE(record.progress.empty());
    const std::wstring expected = L"长度不一致 预期值:" + std::to_wstring(kBodySize + 7) + L" 实际值:" + std::to_wstring(kBodySize);
    EXPECT_EQ(log.Count(expected), 1u);
}

// No Content-Length (chunked): no progress at all, only the completion, also
// when the transfer spans several progress ticks.
TEST_F(DownloadTest, ChunkedBodyGivesNoProgressOnlyTheCompletion) {
    const std::string body = TestBytes(40 * 1024, 6);
    TestHttpResponse chunked = TestHttpResponse::Ok(body);
    chunked.chunked = true;
    chunked.pieceSize = 4 * 1024;
    chunked.delayBetweenPiecesMs = 25;  // several engine ticks
    server.Route("/pkg.exe", chunked);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 0));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_TRUE(record.progress.empty());
}

// A redirect whose own body is announced with a length, then the file sent
// chunked: the redirect's length says nothing about the file, so it must not
// be checked against the expected size nor shown as the total.
TEST_F(DownloadTest, RedirectLengthIsNotTakenForTheFilesLength) {
    const std::string body = TestBytes(40 * 1024, 9);
    TestHttpResponse moved = TestHttpResponse::Redirect(302, "/cdn/pkg.exe");
    moved.body = "<html>moved</html>";
    TestHttpResponse chunked = TestHttpResponse::Ok(body);
    chunked.chunked = true;
    server.Route("/pkg.exe", moved);
    server.Route("/cdn/pkg.exe", chunked);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_TRUE(record.progress.empty());
}

// An interim answer before the final one: its status is not the final
// status, so neither the length check nor the progress may run on it (here it
// would pair the old resume offset with the full length of the 200 answer).
TEST_F(DownloadTest, InterimAnswerIsNotTakenForTheFinalStatus) {
    const std::string body = TestBytes(kBodySize, 10);
    WriteBytes(target, std::string(1000, 'X'));
    TestHttpResponse full = TestHttpResponse::Ok(body);  // Range ignored
    full.interimContinue = true;
    server.Route("/pkg.exe", full);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    // Every notification of the transfer is queued before any runs: the
    // worker is done with it while this thread does not pump.
    CCurlWorkshop* worker = GetCurlWorkshop(HttpEngine::Download);
    ASSERT_TRUE(SpinUntil(
        [&] { return server.CompletedResponses() == 1 && worker->PendingAddCount() == 0 && worker->RunningCount() == 0; },
        5000));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body);
    for (const auto& p : record.progress) EXPECT_EQ(p.total, static_cast<int64_t>(body.size()));
}

// Progress comes with the status and then once a second; the downloaded
// figure grows up to the total.
TEST_F(DownloadTest, ProgressIsReportedOncePerSecond) {
    UseProductEngineTick();
    const std::string body = TestBytes(64 * 1024, 7);
    TestHttpResponse slow = TestHttpResponse::Ok(body);
    slow.pieceSize = 2 * 1024;
    slow.delayBetweenPiecesMs = 110;  // 32 pieces, about 3.5 s
    server.Route("/pkg.exe", slow);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    ASSERT_GE(record.progress.size(), 3u);
    EXPECT_EQ(record.progress[0].downloaded, 0);
    EXPECT_EQ(record.progress[0].speed, 0u);
    int64_t last = 0;
    for (size_t i = 1; i < record.progress.size(); ++i) {
        const auto& p = record.progress[i];
        EXPECT_EQ(p.total, static_cast<int64_t>(body.size()));
        EXPECT_GE(p.downloaded, last);
        EXPECT_LE(p.downloaded, p.total);
        last = p.downloaded;
        // Ticks come from the 500 ms timer, every second tick.
        if (i >= 2) {
            EXPECT_GE(p.tick - record.progress[i - 1].tick, 900u) << "progress call " << i;
        }
    }
    EXPECT_GT(last, 0);
}

// The speed is the sum of the last 10 per-second samples divided by 10, also
// while fewer than 10 exist; the samples survive Stop.
TEST_F(DownloadTest, SpeedIsTheSumOfTheLastTenSamplesOverTen) {
    // Headers announce 1 MiB and then nothing comes while the connection stays
    // open: the byte counts below are the only ones the task sees.
    // Regression: the stall used a wrong Content-Length, whose connection the
    // server closes at once; on a loaded machine the transfer's failure was
    // handled in the same pump as its status and reset the content length.
    TestHttpResponse stalled = TestHttpResponse::Ok(std::string(1 << 20, 'x'));
    stalled.delayAfterHeadersMs = 60000;
    server.Route("/pkg.exe", stalled);
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 1 << 20));
    ASSERT_TRUE(PumpMessagesUntil([this] { return !record.progress.empty(); }, 10000));
    // A progress tick may have come with the status: it added a 0 sample.
    std::deque<uint32_t> model = task.SpeedSamples();
    const size_t callsBefore = record.progress.size();

    // No message pumping from here on: the engine tick cannot add samples.
    int64_t received = 0;
    for (uint32_t second = 1; second <= 13; ++second) {
        const uint32_t bytes = second * 1000;
        task.OnBytesReceived(bytes / 2);
        task.OnBytesReceived(bytes - bytes / 2);
        task.OnTick();
        received += bytes;
        model.push_back(bytes);
        if (model.size() > 10) model.pop_front();
        uint64_t sum = 0;
        for (uint32_t sample : model) sum += sample;
        ASSERT_EQ(record.progress.size(), callsBefore + second);
        const auto& p = record.progress.back();
        EXPECT_EQ(p.speed, static_cast<uint32_t>(sum / 10)) << "second " << second;
        EXPECT_EQ(p.downloaded, received);
        EXPECT_EQ(p.total, 1 << 20);
    }
    EXPECT_EQ(record.progress[callsBefore].speed, 100u);  // 1000 / 10: the divisor is always 10
    EXPECT_TRUE(task.SpeedSamples() == model);
    task.Stop();
    EXPECT_TRUE(task.SpeedSamples() == model);  // kept across runs
    EXPECT_EQ(model.front(), 4000u);
}

// The target cannot be opened: (1, 2020), no request, one completion.
TEST_F(DownloadTest, UnopenableTargetFailsWithTheSinkError) {
    server.Route("/pkg.exe", TestHttpResponse::Ok("abc"));
    ASSERT_TRUE(task.Download(L"", server.WideUrl("/pkg.exe"), dir.File(L"no such folder\\pkg.tmp"), 3));
    ASSERT_TRUE(WaitDone(2000));
    EXPECT_EQ(record.type, 1);
    EXPECT_EQ(record.code, 2020);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(record.completions, 1);
    EXPECT_EQ(server.RequestCount(), 0u);
}

// A task that has completed can run again after Stop(); a second Download
// while a run is going is refused.
TEST_F(DownloadTest, SecondDownloadIsRefusedWhileRunningAndAcceptedAfterStop) {
    const std::string body = TestBytes(64 * 1024, 8);
    TestHttpResponse slow = TestHttpResponse::Ok(body);
    slow.pieceSize = 16 * 1024;
    slow.delayBetweenPiecesMs = 100;
    server.Route("/pkg.exe", slow);
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), 0));
    EXPECT_FALSE(StartDownload(server.WideUrl("/pkg.exe"), 0));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    task.Stop();
    ::DeleteFileW(target.c_str());
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(PumpMessagesUntil([this] { return record.completions == 2; }, 20000));
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    EXPECT_EQ(server.RequestCount(), 2u);
}

// A server that sends part of the body and then holds the connection open
// without a byte more: the low-speed limit (shortened here) ends the attempt
// like any network error, and the retry resumes the partial file.
// Regression: no limit was set and the download never completed.
TEST_F(DownloadTest, StalledBodyIsCutByTheLowSpeedLimitAndResumed) {
    const std::string body = TestBytes(kBodySize, 11);
    TestHttpResponse stall = TestHttpResponse::Ok(body);
    // A small first piece, then silence: libcurl averages the speed over the
    // last seconds, so a large one would keep it above the limit for long.
    stall.pieceSize = 512;
    stall.delayBetweenPiecesMs = 120000;
    TestHttpResponse rest = TestHttpResponse::Ok(body);
    rest.honourRange = true;
    server.RouteSequence("/pkg.exe", {stall, rest});
    HttpTimeouts shortened;
    shortened.lowSpeedBytesPerSec = 1000;
    shortened.lowSpeedSec = 1;
    task.SetTimeouts(shortened);

    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone(30000)) << "the stalled transfer never ended";
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(512) + "-");
}

// A task reused after Stop() tries only the addresses of its new Download().
// Regression: the cancelled run's URL and mirrors stayed in the list, and when
// they answered the owner got (0, 0) with the old file's bytes.
TEST_F(DownloadTest, ReusedTaskForgetsTheCancelledRunsAddresses) {
    const std::string oldBody = TestBytes(5000, 12);
    TestHttpResponse held = TestHttpResponse::Ok(oldBody);
    held.delayBeforeHeadersMs = 60000;
    server.RouteSequence("/old.exe", {held, TestHttpResponse::Ok(oldBody)});
    server.Route("/old-mirror.exe", TestHttpResponse::Ok(oldBody));
    server.Route("/new.exe", TestHttpResponse::Status(404));

    ASSERT_TRUE(StartDownload(server.WideUrl("/old.exe"), 0, server.WideUrl("/old-mirror.exe")));
    ASSERT_TRUE(PumpMessagesUntil([this] { return server.RequestCount("/old.exe") == 1; }, 5000));
    task.Stop();
    ASSERT_TRUE(StartDownload(server.WideUrl("/new.exe"), 0));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 4);
    EXPECT_EQ(record.code, 404);
    EXPECT_EQ(server.RequestCount("/old.exe"), 1u);
    EXPECT_EQ(server.RequestCount("/old-mirror.exe"), 0u);
    EXPECT_FALSE(Target() == oldBody) << "the old run's file arrived";
}

// Header names are case-insensitive: a lower-case "content-length" is the
// file's length like any other, and a hostile length that would overflow the
// resume offset plus the length is a mismatch too.
// Regression: the lower-case field was not found (no length check, no
// progress) and the huge one overflowed a signed sum.
TEST_F(DownloadTest, LengthIsFoundWhateverItsCaseAndAHugeOneIsAMismatch) {
    const std::string body = TestBytes(4000, 13);
    TestHttpResponse lower = TestHttpResponse::Ok(body);
    lower.omitContentLength = true;
    lower.headers.push_back({"content-length", std::to_string(body.size())});
    server.Route("/lower.exe", lower);

    ASSERT_TRUE(StartDownload(server.WideUrl("/lower.exe"), static_cast<int64_t>(body.size()) + 5));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 3);
    EXPECT_EQ(record.code, 2007);

    task.Stop();
    record = DownloadRecord();
    ::DeleteFileW(target.c_str());
    ASSERT_TRUE(StartDownload(server.WideUrl("/lower.exe"), 0));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body);
    ASSERT_FALSE(record.progress.empty()) << "the length was not seen";
    EXPECT_EQ(record.progress.front().total, static_cast<int64_t>(body.size()));

    // A partial file makes the request resume at offset 1000, so the sum of
    // offset and announced length leaves the 64-bit range.
    task.Stop();
    record = DownloadRecord();
    WriteBytes(target, body.substr(0, 1000));
    TestHttpResponse huge = TestHttpResponse::Ok(body);
    huge.omitContentLength = true;
    huge.status = 206;
    huge.headers.push_back({"Content-Length", "9223372036854775807"});
    server.Route("/huge.exe", huge);
    ASSERT_TRUE(StartDownload(server.WideUrl("/huge.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(record.type, 3);
    EXPECT_EQ(record.code, 2007);
}

// Failures no retry here mends end the run with their own pair, the partial
// file kept: a full disk, a file held by another program, a sign-in page
// (refused before the file is emptied; the mirror is asked, never the resolver).
TEST_F(DownloadTest, DiskLockOrSignInPageEndsWithItsOwnPair) {
    const std::string body = TestBytes(kBodySize, 14), partial = body.substr(0, 1000);
    TestHttpResponse file = TestHttpResponse::Ok(body);
    file.honourRange = true;
    const TestHttpResponse page = TestHttpResponse::Ok("<html>Sign in</html>").With("Content-Type", "text/html; charset=utf-8");
    const struct { uint64_t fullAt; bool locked; TestHttpResponse answer; int32_t type, code; size_t mainAsked, mirrorAsked; } cases[] = {
        {50000, false, file, 1, ERROR_DISK_FULL, 1, 0},
        {UINT64_MAX, true, file, 1, ERROR_SHARING_VIOLATION, 0, 0},
        {UINT64_MAX, false, page, 3, 2010, 1, 1}};
    for (const auto& c : cases) {
        task.Stop();
        record = DownloadRecord();
        WriteBytes(target, partial);
        task.fullAt = c.fullAt;
        server.Route("/main.exe", c.answer);
        server.Route("/mirror.exe", c.answer);
        const size_t before[] = {server.RequestCount("/main.exe"), server.RequestCount("/mirror.exe")};
        kv::UniqueKernelHandle holder(c.locked ? ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr);
        ASSERT_TRUE(StartDownload(server.WideUrl("/main.exe"), static_cast<int64_t>(body.size()), server.WideUrl("/mirror.exe")));
        ASSERT_TRUE(WaitDone() && Settle());
        holder.reset();
        EXPECT_EQ(std::make_tuple(record.completions, record.type, record.code), std::make_tuple(1, c.type, c.code));
        EXPECT_EQ(server.RequestCount("/main.exe") - before[0], c.mainAsked) << c.code;
        EXPECT_EQ(server.RequestCount("/mirror.exe") - before[1], c.mirrorAsked) << c.code;
        EXPECT_EQ(dns.QueryCount(), 0u);
        const std::string kept = Target();
        EXPECT_TRUE(c.locked || c.answer.body == page.body ? kept == partial : body.compare(0, kept.size(), kept) == 0 && kept.size() >= partial.size()) << c.code;
    }
}

// A whole (200) answer to a resumed request that is not the package (a web
// page, no length, another length) ends its source with its pair before the
// partial file is touched; a body without a length that ends short of the
// size is a failure, never the finished package. Regression: the 200
// emptied the partial file at once, and a short chunked body was success.
TEST_F(DownloadTest, WholeAnswerThatIsNotThePackageLeavesThePartialFile) {
    const std::string body = TestBytes(kBodySize, 15), head = body.substr(0, 1000);
    const TestHttpResponse page = TestHttpResponse::Ok("<html>Sign in</html>").With("Content-Type", "text/html");
    TestHttpResponse chunked = TestHttpResponse::Ok(body), longer = TestHttpResponse::Ok(body + "tail"),
                     cutChunked = TestHttpResponse::Ok(head);
    chunked.chunked = cutChunked.chunked = true;
    const struct { TestHttpResponse answer; std::string partial; int32_t code; } cases[] = {
        {page, head, 2010}, {chunked, head, 2007}, {longer, head, 2007}, {cutChunked, "", 2007}};
    for (const auto& c : cases) {
        task.Stop();
        record = DownloadRecord();
        WriteBytes(target, c.partial);
        server.Route("/pkg.exe", c.answer);
        ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
        ASSERT_TRUE(WaitDone() && Settle());
        EXPECT_EQ(std::make_tuple(record.completions, record.type, record.code), std::make_tuple(1, 3, c.code));
        EXPECT_TRUE(Target() == head) << c.code << " " << c.partial.size();
    }
}

// 40,000 header fields end the transfer at the field cap, the partial file
// kept. Regression: each field went through a case-folding scan of those
// before it (75.8 s of CPU before libcurl's own cap).
TEST_F(DownloadTest, HeaderFloodEndsTheTransferCheaply) {
    const std::string body = TestBytes(kBodySize, 16), head = body.substr(0, 1000);
    TestHttpResponse flood = TestHttpResponse::Ok(body);
    for (int i = 0; i < 40000; ++i) flood.headers.push_back({"X-Flood-" + std::to_string(i), "1"});
    server.Route("/pkg.exe", flood);
    WriteBytes(target, head);
    const auto cpuSeconds = [] {
        FILETIME created, exited, kernel, user;
        ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
        const auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
    };
    const double before = cpuSeconds();
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), static_cast<int64_t>(body.size())));
    ASSERT_TRUE(WaitDone());
    std::printf("header flood: %.3f s of CPU (the whole test process, server included)\n", cpuSeconds() - before);
    EXPECT_EQ(std::make_tuple(record.type, record.code), std::make_tuple(3, 2009));
    EXPECT_TRUE(Target() == head);
}
