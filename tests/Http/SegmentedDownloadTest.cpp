// Packages of 8 MiB and more in parallel ranges, end to end against the
// in-process server: ranges from the main address and a mirror, a mirror
// failing in each way, servers without ranges, the control file's fallbacks,
// a run in which every source fails and the next one resumes, and piece
// digests: a poisoned source, a bad piece in one stream, resumed files.
#include "DownloadTestSupport.h"

#include <functional>
#include <iostream>
#include <tuple>

#include "Http/FailureKind.h"
#include "Http/HttpMgr.h"
#include "Http/HttpResultCodes.h"
#include "Http/PieceDigests.h"
#include "Http/RangeControlFile.h"
#include "Runtime/Sha256.h"
#include "Runtime/TextUtils.h"
#include "support/LogCapture.h"

namespace {

constexpr uint64_t MiB = 1024 * 1024;
constexpr uint64_t kPackage = 12 * MiB;

// Ranges honoured; the body goes out in pieces of 64 KiB `delayMs` apart.
TestHttpResponse Ranged(const std::string& body, DWORD delayMs = 0) {
    TestHttpResponse r = TestHttpResponse::Ok(body);
    r.honourRange = true;
    r.pieceSize = 64 * 1024;
    r.delayBetweenPiecesMs = delayMs;
    return r;
}

// The bytes a request asked for, [from, to); false without a Range.
bool AskedFor(const TestHttpRequest& request, uint64_t size, ByteRange* range) {
    const std::string text = request.Header("Range");
    unsigned long long from = 0, last = 0;
    if (std::sscanf(text.c_str(), "bytes=%llu-%llu", &from, &last) == 2) {
        *range = {from, last + 1};
        return true;
    }
    if (std::sscanf(text.c_str(), "bytes=%llu-", &from) == 1) {
        *range = {from, size};
        return true;
    }
    return false;
}

bool Inside(const ByteRange& asked, const std::vector<ByteRange>& missing) {
    for (const ByteRange& m : missing) {
        if (asked.from >= m.from && asked.to <= m.to) return true;
    }
    return false;
}

class SegmentedDownloadTest : public DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        body = TestBytes(kPackage, 31);
        createdAtStart_ = CCurlBase::CreatedCount();
    }
    bool StartParallel(bool withMirror = true) {
        return StartDownload(server.WideUrl("/main.bin"), static_cast<int64_t>(kPackage),
                             withMirror ? server.WideUrl("/mirror.bin") : L"");
    }
    std::wstring Control() const { return CRangeControlFile::PathFor(target); }
    bool ControlExists() const { return ::GetFileAttributesW(Control().c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::vector<TestHttpRequest> RequestsTo(const std::string& path, size_t from = 0) const {
        std::vector<TestHttpRequest> found;
        const auto all = server.Requests();
        for (size_t i = from; i < all.size(); ++i) {
            if (all[i].path == path) found.push_back(all[i]);
        }
        return found;
    }
    // A request to `path` that starts exactly at `from`.
    bool AskedFrom(const std::string& path, uint64_t from) const {
        for (const auto& r : RequestsTo(path)) {
            ByteRange asked;
            if (AskedFor(r, kPackage, &asked) && asked.from == from) return true;
        }
        return false;
    }
    void ExpectDoneAndWhole() {
        EXPECT_EQ(record.type, 0);
        EXPECT_EQ(record.code, 0);
        EXPECT_TRUE(Target() == body) << "file differs from the source";
        EXPECT_FALSE(ControlExists()) << "the control file outlived the download";
        PumpMessagesFor(600);
        EXPECT_EQ(record.completions, 1);
        EXPECT_EQ(GetHttpMgr(HttpEngine::Download)->TaskCount(), 0u) << "a connection stayed in the scheduler";
    }
    // Every transfer made reached the server (where no source is dropped, no
    // transfer is cancelled before it asks). Regression: a stalled range
    // taken over from inside a connection's start re-entered that start, and
    // the new owner's transfer never reached the worker (the range waited for
    // a second take-over).
    void ExpectEveryTransferAsked() {
        EXPECT_EQ(CCurlBase::CreatedCount() - createdAtStart_, static_cast<long>(server.RequestCount()));
    }

    std::string body;
    long createdAtStart_ = 0;
};

}  // namespace

// The main address and a mirror share four closed ranges; the listener sees
// one download: progress with the package's total once a second, one end.
// Every connection is a task of the engine, counted against its limit.
TEST_F(SegmentedDownloadTest, RangesComeFromEverySourceAndTheListenerSeesOneDownload) {
    UseProductEngineTick();  // the progress cadence is the product's
    server.Route("/main.bin", Ranged(body, 40));
    server.Route("/mirror.bin", Ranged(body, 40));
    ASSERT_TRUE(StartParallel());
    int mostRunning = 0;
    ASSERT_TRUE(PumpMessagesUntil(
        [&] {
            mostRunning = std::max(mostRunning, GetHttpMgr(HttpEngine::Download)->RunningCount());
            return record.completions > 0;
        },
        60000));
    ExpectDoneAndWhole();
    ExpectEveryTransferAsked();
    EXPECT_EQ(mostRunning, 5) << "the download and its four connections";
    EXPECT_EQ(task.SourcesUsed(), (std::vector<std::wstring>{server.WideUrl("/main.bin"), server.WideUrl("/mirror.bin")}));

    const auto main = RequestsTo("/main.bin");
    const auto mirror = RequestsTo("/mirror.bin");
    ASSERT_GE(main.size(), 3u);
    ASSERT_GE(mirror.size(), 2u);
    EXPECT_EQ(main[0].Header("Range"), "bytes=0-") << "the first answer shows whether ranges are served";
    for (size_t i = 1; i < main.size(); ++i) EXPECT_NE(main[i].Header("Range").back(), '-') << "a closed range";
    for (const auto& r : mirror) EXPECT_NE(r.Header("Range").back(), '-');

    ASSERT_GE(record.progress.size(), 3u);
    int64_t last = 0;
    bool moving = false;
    for (const auto& p : record.progress) {
        EXPECT_EQ(p.total, static_cast<int64_t>(kPackage));
        EXPECT_GE(p.downloaded, last);
        EXPECT_LE(p.downloaded, p.total);
        last = p.downloaded;
        moving = moving || p.speed > 0;
    }
    EXPECT_TRUE(moving) << "the summed speed was never above 0";
    const DWORD elapsed = record.doneTick - record.progress.front().tick;
    EXPECT_LE(record.progress.size(), elapsed / 1000 + 3) << "more than one progress call a second";
}

// A mirror that misbehaves is left for this download; the main address
// finishes what it had.
struct MirrorCase {
    const char* name;
    std::function<std::vector<TestHttpResponse>(const std::string& body)> answers;
    // Bytes a mirror request delivers before it fails; its rest must be
    // asked from the main address from there. 0: nothing to check.
    uint64_t handedOverAfter;
};

class BadMirrorTest : public SegmentedDownloadTest, public ::testing::WithParamInterface<MirrorCase> {};

TEST_P(BadMirrorTest, IsDroppedAndTheMainAddressFinishes) {
    server.Route("/main.bin", Ranged(body, 15));
    server.RouteSequence("/mirror.bin", GetParam().answers(body));
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(45000));
    ExpectDoneAndWhole();
    // The stall limit (60 s) is never reached: the range changes hands first.
    EXPECT_LT(::GetTickCount() - start, 30000u);
    const auto mirror = RequestsTo("/mirror.bin");
    EXPECT_GE(mirror.size(), 1u);
    EXPECT_LE(mirror.size(), 2u) << "a dropped or failing mirror was asked again";
    if (GetParam().handedOverAfter) {
        ExpectEveryTransferAsked();
        for (const auto& r : mirror) {
            ByteRange asked;
            ASSERT_TRUE(AskedFor(r, kPackage, &asked));
            EXPECT_TRUE(AskedFrom("/main.bin", asked.from + GetParam().handedOverAfter))
                << "the mirror's range from " << asked.from << " was not finished by the main address";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Segmented, BadMirrorTest,
    ::testing::Values(
        MirrorCase{"AnotherLength",
                   [](const std::string& body) { return std::vector<TestHttpResponse>{Ranged(body + "tail")}; }, 0},
        MirrorCase{"IgnoresRanges",
                   [](const std::string& body) { return std::vector<TestHttpResponse>{TestHttpResponse::Ok(body)}; }, 0},
        MirrorCase{"CutMidRange",
                   [](const std::string& body) {
                       TestHttpResponse cut = Ranged(body, 10);
                       cut.closeAfterBodyBytes = 512 * 1024;
                       TestHttpResponse gone;
                       gone.closeWithoutResponse = true;
                       return std::vector<TestHttpResponse>{cut, cut, gone};
                   },
                   512 * 1024},
        MirrorCase{"Stalled",
                   [](const std::string& body) {
                       // The first piece, then silence with the connection open.
                       return std::vector<TestHttpResponse>{Ranged(body, 120000)};
                   },
                   64 * 1024}),
    [](const ::testing::TestParamInfo<MirrorCase>& info) { return std::string(info.param.name); });

// A stream that is fast already keeps the package to itself: more
// connections would only cost the machine work.
TEST_F(SegmentedDownloadTest, StreamThatIsFastAlreadyIsNotSplit) {
    server.Route("/main.bin", Ranged(body, 15));
    server.Route("/mirror.bin", Ranged(body, 15));
    task.SetFastStreamRate(1);
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(60000));
    ExpectDoneAndWhole();
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=0-");
}

// A stream whose first burst is followed by a pause (a server pacing its
// cap) is split while it waits, not after its next burst: the ranges start
// where the first burst ended. The engine's ticks are slowed so that only
// the probe's own timer can decide in time.
TEST_F(SegmentedDownloadTest, StreamIsSplitDuringAPauseAfterItsFirstBurst) {
    SetEngineTickMs(5000);
    TestHttpResponse paced = Ranged(body, 3000);
    paced.pieceSize = MiB;
    server.RouteSequence("/main.bin", {paced, Ranged(body)});
    server.Route("/mirror.bin", Ranged(body));
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(30000));
    ExpectDoneAndWhole();
    EXPECT_TRUE(AskedFrom("/main.bin", MiB) || AskedFrom("/mirror.bin", MiB)) << "split after the pause";
}

// The only server ignores ranges: today's single stream, one request.
TEST_F(SegmentedDownloadTest, ServerWithoutRangesGivesOneStream) {
    server.Route("/main.bin", TestHttpResponse::Ok(body));
    ASSERT_TRUE(StartParallel(false));
    ASSERT_TRUE(WaitDone(30000));
    ExpectDoneAndWhole();
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=0-");
}

// The only source answers the first range and ignores the next ones: the file
// is cut to its complete prefix and one stream goes on from there.
TEST_F(SegmentedDownloadTest, OnlySourceThatStopsServingRangesEndsAsOneStream) {
    server.RouteSequence("/main.bin", {Ranged(body, 20), TestHttpResponse::Ok(body)});
    ASSERT_TRUE(StartParallel(false));
    ASSERT_TRUE(WaitDone(30000));
    ExpectDoneAndWhole();
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 3u);
    // The single stream asks for everything from the prefix (no range from 0).
    const std::string lastRange = requests.back().Header("Range");
    EXPECT_TRUE(lastRange.empty() || lastRange.back() == '-') << lastRange;
    EXPECT_FALSE(task.IsSegmented());
}

// What a control file left by an earlier run is worth. The partial file holds
// the right bytes in [0, 3 MiB) and [5 MiB, 8 MiB), junk elsewhere.
TEST_F(SegmentedDownloadTest, ControlFileResumesItsRangesOrOnlyAKnownPrefix) {
    const uint64_t prefix = 3 * MiB;
    const std::vector<ByteRange> missing = {{prefix, 5 * MiB}, {8 * MiB, kPackage}};
    std::string partial = body;
    for (const ByteRange& m : missing) partial.replace(m.from, m.to - m.from, m.to - m.from, '#');
    CRangeControlFile::State state;
    state.total = kPackage;
    state.prefix = prefix;
    state.missing = missing;
    const std::string control = CRangeControlFile::Encode(state);
    std::string listDamaged = control;
    listDamaged[CRangeControlFile::kHeaderBytes + 3] ^= 0x40;  // in the first range's start
    std::string headerDamaged = control;
    headerDamaged[12] ^= 0x01;  // in the package size
    struct Case {
        const char* what;
        std::string control;
        uint64_t fileLength;
        std::vector<ByteRange> mayAsk;  // every request must lie inside these
        uint64_t firstFrom;             // a request must start here
    } cases[] = {
        {"matching: only the missing ranges", control, kPackage, missing, prefix},
        {"range list damaged: from the prefix", listDamaged, kPackage, {{prefix, kPackage}}, prefix},
        {"header damaged: from 0", headerDamaged, kPackage, {{0, kPackage}}, 0},
        {"file of another length: from the prefix", control, 5 * MiB, {{prefix, kPackage}}, prefix},
    };
    server.Route("/main.bin", Ranged(body));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        task.Stop();
        record = DownloadRecord();
        WriteBytes(target, partial.substr(0, c.fileLength));
        WriteBytes(Control(), c.control);
        const size_t before = server.Requests().size();
        ASSERT_TRUE(StartParallel(false));
        ASSERT_TRUE(WaitDone(30000));
        ExpectDoneAndWhole();
        const auto requests = RequestsTo("/main.bin", before);
        ASSERT_FALSE(requests.empty());
        bool firstSeen = false;
        for (const auto& r : requests) {
            ByteRange asked;
            ASSERT_TRUE(AskedFor(r, kPackage, &asked)) << "a request without a range";
            EXPECT_TRUE(Inside(asked, c.mayAsk)) << "asked " << asked.from << "-" << asked.to;
            firstSeen = firstSeen || asked.from == c.firstFrom;
        }
        EXPECT_TRUE(firstSeen);
        // "": the earlier run's bytes (of unknown sources), unless the file was started again.
        EXPECT_EQ(task.SourcesUsed(), (c.firstFrom ? std::vector<std::wstring>{L"", server.WideUrl("/main.bin")} : std::vector<std::wstring>{server.WideUrl("/main.bin")}));
    }
}

// Something that cannot be removed in the control file's place (here a
// folder) is looked at once: the download goes on as one stream and resumes
// after a cut. Regression: every retry cut the partial file to 0 again.
TEST_F(SegmentedDownloadTest, ControlFileThatCannotBeRemovedIsLookedAtOnce) {
    ASSERT_TRUE(::CreateDirectoryW(Control().c_str(), nullptr));
    TestHttpResponse cut = Ranged(body);
    cut.closeAfterBodyBytes = MiB;
    server.RouteSequence("/main.bin", {cut, Ranged(body)});
    ASSERT_TRUE(StartParallel(false));
    ASSERT_TRUE(WaitDone(30000));
    EXPECT_EQ(record.type, 0);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(MiB) + "-") << "the retry did not resume";
    ::RemoveDirectoryW(Control().c_str());
}

// A control file that Begin could not replace (a folder sits at its
// temporary's name) is not taken for its own. Regression: any valid file
// found there was trusted, and a planted one marked unwritten bytes as done.
TEST_F(SegmentedDownloadTest, BeginTrustsOnlyTheControlFileItWrote) {
    server.Route("/main.bin", Ranged(body));
    CRangeControlFile::State planted;
    planted.total = kPackage;
    planted.prefix = kPackage - MiB;
    planted.missing = {{kPackage - MiB, kPackage}};
    WriteBytes(Control(), CRangeControlFile::Encode(planted));
    const std::wstring fresh = Control() + L".new";
    ASSERT_TRUE(::CreateDirectoryW(fresh.c_str(), nullptr));
    struct Ends : CSegmentedDownload::Listener {
        int ends = 0;
        void OnSegmentedAnswer() override {}
        void OnSegmentedBytes(uint32_t) override {}
        void OnSegmentedEnd(CSegmentedDownload::End, const HttpResult&) override { ++ends; }
    } listener;
    {
        CSegmentedDownload segmented(&listener);
        CSegmentedDownload::Source source;
        source.url = server.WideUrl("/main.bin");
        EXPECT_FALSE(segmented.Begin(target, kPackage, {{0, kPackage}}, {source}, 4, HttpTimeouts()));
        EXPECT_FALSE(segmented.Active());
        PumpMessagesFor(300);
    }
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(listener.ends, 0);
    EXPECT_NE(ReadFileBytes(target).size(), kPackage) << "the file was given its full length";
    ::RemoveDirectoryW(fresh.c_str());
}

// One range's write meets a full disk: the download ends once with the
// sink's pair, asks nothing more and keeps its control file.
TEST_F(SegmentedDownloadTest, DiskFullInOneRangeEndsTheDownloadWithItsPair) {
    task.fullAt = 9 * MiB + 12345;
    server.Route("/main.bin", Ranged(body, 15));
    server.Route("/mirror.bin", Ranged(body, 15));
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(30000));
    const size_t asked = server.RequestCount();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(std::make_tuple(record.completions, record.type, record.code), std::make_tuple(1, 1, ERROR_DISK_FULL));
    EXPECT_GT(asked, 1u) << "never in ranges";
    EXPECT_EQ(server.RequestCount(), asked);
    EXPECT_EQ(dns.QueryCount(), 0u);
    CRangeControlFile::State state;
    ASSERT_EQ(CRangeControlFile::Load(Control(), &state), CRangeControlFile::Parse::Valid);
    EXPECT_TRUE(Inside({task.fullAt, task.fullAt + 1}, state.missing));
    EXPECT_TRUE(state.prefix > 0 && Target().compare(0, state.prefix, body, 0, state.prefix) == 0);
}

// Every source fails mid-run, also after a mirror refused ranges: one
// completion with the failure; the control file and every byte written in
// ranges stay (none of the four cut ranges is lost), and the next run asks
// only for what is missing. Regression: a refusal made the end a fall-back
// to one stream, which cut the file to its complete prefix.
TEST_F(SegmentedDownloadTest, EverySourceFailingKeepsTheWrittenRangesForTheNextRun) {
    TestHttpResponse cut = Ranged(body, 5);
    cut.closeAfterBodyBytes = MiB;
    TestHttpResponse gone;
    gone.closeWithoutResponse = true;
    const std::vector<TestHttpResponse> mirrors[] = {{cut, cut, gone}, {TestHttpResponse::Ok(body)}};
    for (const auto& mirror : mirrors) {
        SCOPED_TRACE(mirror.size() == 1 ? "the mirror refuses ranges" : "every source is cut");
        task.Stop();
        record = DownloadRecord();
        ::DeleteFileW(target.c_str());
        ::DeleteFileW(Control().c_str());
        server.RouteSequence("/main.bin", {Ranged(body, 20), cut, cut, gone});
        server.RouteSequence("/mirror.bin", mirror);
        ASSERT_TRUE(StartParallel());
        ASSERT_TRUE(WaitDone(45000) && Settle());
        EXPECT_EQ(std::make_tuple(record.completions, record.type), std::make_tuple(1, 5)) << "a network failure";
        CRangeControlFile::State state;
        ASSERT_EQ(CRangeControlFile::Load(Control(), &state), CRangeControlFile::Parse::Valid);
        const std::string kept = Target();
        ASSERT_EQ(kept.size(), kPackage);
        std::vector<ByteRange> gaps = state.missing;
        gaps.push_back({kPackage, kPackage});
        uint64_t from = 0, pastPrefix = 0, missingBytes = 0;
        for (const ByteRange& gap : gaps) {
            EXPECT_EQ(kept.compare(from, gap.from - from, body, from, gap.from - from), 0) << "bytes from " << from;
            if (from >= state.prefix) pastPrefix += gap.from - from;
            missingBytes += gap.to - gap.from;
            from = gap.to;
        }
        EXPECT_GT(pastPrefix, 0u) << "nothing was written past the prefix";
        if (mirror.size() == 1) continue;
        EXPECT_LE(missingBytes, kPackage - 4 * MiB) << "the four cut ranges' bytes were lost";

        task.Stop();
        record = DownloadRecord();
        server.Route("/main.bin", Ranged(body));
        server.Route("/mirror.bin", Ranged(body));
        const size_t before = server.Requests().size();
        ASSERT_TRUE(StartParallel());
        ASSERT_TRUE(WaitDone(30000));
        ExpectDoneAndWhole();
        const auto all = server.Requests();
        for (size_t n = before; n < all.size(); ++n) {
            ByteRange asked;
            ASSERT_TRUE(AskedFor(all[n], kPackage, &asked));
            EXPECT_TRUE(Inside(asked, state.missing)) << "asked " << asked.from << "-" << asked.to << " again";
        }
    }
}


// With piece digests (1 MiB pieces of the 12 MiB package).
class PieceDownloadTest : public SegmentedDownloadTest {
protected:
    void SetUp() override {
        SegmentedDownloadTest::SetUp();
        task.SetPieceDigests(Digests(body));
    }
    static std::shared_ptr<const CPieceDigests> Digests(const std::string& package) {
        std::wstring hex;
        for (uint64_t at = 0; at < kPackage; at += MiB) {
            CSha256 hash;
            hash.Update(package.data() + at, MiB);
            hex += hash.HexDigest();
        }
        std::shared_ptr<const CPieceDigests> pieces;
        EXPECT_TRUE(CPieceDigests::Parse(L"1048576", hex, kPackage, &pieces));
        return pieces;
    }
    // `body` with one byte changed in each of those pieces.
    std::string Poisoned(std::initializer_list<uint64_t> pieces) const {
        std::string bad = body;
        for (uint64_t p : pieces) bad[p * MiB + 4321] ^= 0x5A;
        return bad;
    }
    // Every request after the first `from` lies inside `mayAsk`, and one starts at `first`.
    void ExpectAsked(size_t from, const std::vector<ByteRange>& mayAsk, uint64_t first) {
        bool firstSeen = false;
        const auto all = server.Requests();
        for (size_t n = from; n < all.size(); ++n) {
            ByteRange asked;
            ASSERT_TRUE(AskedFor(all[n], kPackage, &asked));
            EXPECT_TRUE(Inside(asked, mayAsk)) << "asked " << asked.from << "-" << asked.to;
            firstSeen = firstSeen || asked.from == first;
        }
        EXPECT_TRUE(firstSeen) << "nothing asked from " << first;
    }
    LogCapture log;
};

// A mirror serving other bytes for some pieces costs at most two of them:
// each is written again from the main address, the mirror is named in the
// log and dropped at its second.
TEST_F(PieceDownloadTest, PoisonedMirrorIsFoundAtItsFirstBadPieces) {
    server.Route("/main.bin", Ranged(body, 30));
    server.Route("/mirror.bin", Ranged(Poisoned({3, 5, 6, 7, 9, 10, 11}), 30));
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(60000));
    ExpectDoneAndWhole();
    const size_t bad = log.Count(L"分块校验失败");
    EXPECT_GE(bad, 1u) << "the mirror was never used for a poisoned piece";
    EXPECT_LE(bad, 2u);
    EXPECT_EQ(log.Count(L"url:" + server.WideUrl("/mirror.bin") + L" bad pieces"), bad) << log.Text();
    EXPECT_EQ(log.Count(L"放弃源 url:" + server.WideUrl("/mirror.bin")), bad == 2 ? 1u : 0u);
    if (::GetEnvironmentVariableW(L"KV_SHOW_LOG", nullptr, 0)) std::cout << WideToUtf8(log.Text());
}

// The single stream checks its pieces too: a bad one is cut off and the
// next address goes on from its start; when every source serves bad pieces
// the download fails as a source's fault.
TEST_F(PieceDownloadTest, OneStreamGoesOnFromABadPieceElsewhere) {
    task.SetMaxConnections(1);
    server.Route("/main.bin", Ranged(Poisoned({5})));
    server.Route("/mirror.bin", Ranged(body));
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(30000));
    ExpectDoneAndWhole();
    EXPECT_EQ(RequestsTo("/mirror.bin").at(0).Header("Range"), "bytes=" + std::to_string(5 * MiB) + "-");

    task.Stop();
    record = DownloadRecord();
    ::DeleteFileW(target.c_str());
    server.Route("/mirror.bin", Ranged(Poisoned({8})));
    ASSERT_TRUE(StartParallel());
    ASSERT_TRUE(WaitDone(30000));
    EXPECT_EQ(std::make_tuple(record.type, record.code), std::make_tuple(kPieceMismatch.type, kPieceMismatch.code));
    EXPECT_EQ(Classify(HttpResult{record.type, record.code}), FailureKind::kSource);
}

// What a resumed run trusts: a plain prefix's pieces are checked first (a
// foreign MiB in it is all that is fetched again); a version 1 control
// file's written ranges likewise; a version 2 file vouches for its written
// pieces, and pieces written after its last save (a power cut before the
// save) are found by checking, not fetched again. What an earlier run of the
// task checked against other digests (the package republished under the
// same name) is checked again. While the check runs, the progress shows
// what the file holds.
TEST_F(PieceDownloadTest, ResumeChecksWhatItHasNotVerified) {
    server.Route("/main.bin", Ranged(body));
    std::string foreign = body;
    foreign.replace(3 * MiB, MiB, MiB, 'x');
    std::string zeros = body;
    zeros.replace(6 * MiB + MiB / 2, kPackage - 6 * MiB - MiB / 2, kPackage - 6 * MiB - MiB / 2, '\0');
    const std::string republished = Poisoned({2});
    CRangeControlFile::State v1;
    v1.total = kPackage;
    v1.prefix = 8 * MiB;
    v1.missing = {{8 * MiB, kPackage}};
    CRangeControlFile::State v2 = v1;
    v2.prefix = 4 * MiB;
    v2.missing = {{4 * MiB, kPackage}};
    v2.piecesVerified = true;
    const struct {
        const char* what;
        std::string partial, control;
        std::vector<ByteRange> mayAsk;
        uint64_t first;
        uint64_t shown;  // the progress while the pieces are checked
        const std::string* before = nullptr;  // the package of a run before, with its digests
    } cases[] = {
        {"plain prefix with a foreign MiB", foreign.substr(0, 8 * MiB), "", {{3 * MiB, 4 * MiB}, {8 * MiB, kPackage}}, 3 * MiB, 8 * MiB},
        {"version 1 with a foreign MiB", foreign, CRangeControlFile::Encode(v1), {{3 * MiB, 4 * MiB}, {8 * MiB, kPackage}}, 3 * MiB, 8 * MiB},
        {"version 2, written after its save", zeros, CRangeControlFile::Encode(v2), {{6 * MiB, kPackage}}, 6 * MiB, 4 * MiB},
        {"republished, same name", republished.substr(0, 8 * MiB), "", {{2 * MiB, 3 * MiB}, {8 * MiB, kPackage}}, 2 * MiB,
         8 * MiB, &republished},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        task.Stop();
        record = DownloadRecord();
        WriteBytes(target, c.partial);
        ::DeleteFileW(Control().c_str());
        if (c.before) {
            task.SetPieceDigests(Digests(*c.before));
            ASSERT_TRUE(StartParallel(false) && WaitDone(30000));
            task.Stop();
            record = DownloadRecord();
            WriteBytes(target, c.partial);
            task.SetPieceDigests(Digests(body));
        }
        if (!c.control.empty()) WriteBytes(Control(), c.control);
        const size_t before = server.Requests().size();
        ASSERT_TRUE(StartParallel(false));
        ASSERT_TRUE(WaitDone(30000));
        ExpectDoneAndWhole();
        ExpectAsked(before, c.mayAsk, c.first);
        ASSERT_FALSE(record.progress.empty());
        EXPECT_EQ(record.progress[0].downloaded, static_cast<int64_t>(c.shown)) << "what the file held, shown during the check";
    }
}

// A stop while a worker checks the resumed file's pieces ends the run: the
// check's late answer starts nothing, no request goes out, the file stays.
TEST_F(PieceDownloadTest, StopWhileCheckingPiecesStartsNothing) {
    server.Route("/main.bin", Ranged(body));
    WriteBytes(target, body.substr(0, 8 * MiB));
    ASSERT_TRUE(StartParallel(false));
    ASSERT_TRUE(PumpMessagesUntil([&] { return task.IsStarted(); }, 5000));
    task.Stop();
    PumpMessagesFor(1000);
    EXPECT_EQ(record.completions, 0);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(Target() == body.substr(0, 8 * MiB)) << "the partial file changed";
}
