// A download whose process is killed mid-transfer resumes from the partial
// file (and, in parallel ranges, from its control file) when started again
// and ends byte-identical. The download runs in download_helper.exe, beside
// this test program.
#include "DownloadTestSupport.h"

#include <cstdio>
#include <random>

#include "Http/RangeControlFile.h"

namespace {

std::wstring HelperPath() {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"download_helper.exe";
}

struct Helper {
    PROCESS_INFORMATION process{};
    bool Launch(const std::wstring& url, const std::wstring& target, int64_t expected, const std::wstring& mirrors = L"") {
        std::wstring command = L"\"" + HelperPath() + L"\" \"" + url + L"\" \"" + target + L"\" " + std::to_wstring(expected);
        if (!mirrors.empty()) command += L" \"" + mirrors + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        return ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
    }
    DWORD WaitExit(DWORD timeoutMs) {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
    ~Helper() {
        if (process.hProcess) {
            ::TerminateProcess(process.hProcess, 99);
            ::WaitForSingleObject(process.hProcess, 5000);
            ::CloseHandle(process.hProcess);
            ::CloseHandle(process.hThread);
        }
    }
};

}  // namespace

TEST_F(DownloadTest, KilledDownloadResumesFromThePartialFile) {
    const std::string body = TestBytes(4 * 1024 * 1024, 21);
    // The first run gets a slow body (about 6 s); a ranged request, the run
    // after the kill, gets the rest at full speed.
    server.SetHandler([body](const TestHttpRequest& request) {
        TestHttpResponse response = TestHttpResponse::Ok(body);
        response.honourRange = true;
        if (!request.HasHeader("Range")) {
            response.pieceSize = 32 * 1024;
            response.delayBetweenPiecesMs = 50;
        }
        return response;
    });
    const std::wstring url = server.WideUrl("/big.exe");
    const int64_t size = static_cast<int64_t>(body.size());
    {
        Helper first;
        ASSERT_TRUE(first.Launch(url, target, size)) << "cannot start " << ::GetLastError();
        ASSERT_TRUE(PumpMessagesUntil([this] { return FileSizeOf(target) >= 512 * 1024; }, 30000));
        ASSERT_TRUE(::TerminateProcess(first.process.hProcess, 9));
        EXPECT_EQ(first.WaitExit(10000), 9u);
    }
    const int64_t partial = FileSizeOf(target);
    ASSERT_GT(partial, 0);
    ASSERT_LT(partial, size);

    Helper second;
    ASSERT_TRUE(second.Launch(url, target, size));
    EXPECT_EQ(second.WaitExit(60000), 0u);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(partial) + "-");
}

namespace {

// What a run started now must fetch: the control file's ranges when they
// match the partial file, otherwise everything from the prefix kept.
std::vector<ByteRange> MissingNow(const std::wstring& target, uint64_t size) {
    CRangeControlFile::State state;
    const auto parse = CRangeControlFile::Load(CRangeControlFile::PathFor(target), &state);
    const uint64_t length = static_cast<uint64_t>(std::max<int64_t>(FileSizeOf(target), 0));
    const auto resume = CRangeControlFile::Decide(parse, state, size, length);
    if (resume.kind == CRangeControlFile::Resume::Ranges) return resume.missing;
    const uint64_t from = resume.kind == CRangeControlFile::Resume::Prefix ? resume.prefix : length;
    return {{from, size}};
}

uint64_t BytesIn(const std::vector<ByteRange>& ranges) {
    uint64_t sum = 0;
    for (const ByteRange& r : ranges) sum += r.to - r.from;
    return sum;
}

// The bytes still missing by a control file that matches the partial file.
bool RecordedMissing(const std::wstring& target, uint64_t size, uint64_t* bytes) {
    CRangeControlFile::State state;
    if (CRangeControlFile::Load(CRangeControlFile::PathFor(target), &state) != CRangeControlFile::Parse::Valid) return false;
    if (state.total != size || FileSizeOf(target) != static_cast<int64_t>(size)) return false;
    *bytes = BytesIn(state.missing);
    return true;
}

// Every request since `first` asked only for bytes inside `missing`.
void ExpectOnlyMissingAsked(const std::vector<TestHttpRequest>& requests, size_t first, uint64_t size,
                            const std::vector<ByteRange>& missing) {
    for (size_t i = first; i < requests.size(); ++i) {
        const std::string range = requests[i].Header("Range");
        unsigned long long from = 0, last = size - 1;
        ASSERT_GE(std::sscanf(range.c_str(), "bytes=%llu-%llu", &from, &last), 1) << "no range: " << range;
        bool inside = false;
        for (const ByteRange& m : missing) inside = inside || (from >= m.from && last + 1 <= m.to);
        EXPECT_TRUE(inside) << range << " asks for bytes that were already written";
    }
}

}  // namespace

// Killed at random points (a fixed seed) while the ranges come from two
// sources, each run resumes every range and asks only for missing bytes.
TEST_F(DownloadTest, ParallelDownloadKilledAtRandomPointsAsksOnlyForMissingBytes) {
    const std::string body = TestBytes(24 * 1024 * 1024, 23);
    const uint64_t size = body.size();
    TestHttpResponse ranged = TestHttpResponse::Ok(body);
    ranged.honourRange = true;
    ranged.pieceSize = 64 * 1024;
    ranged.delayBetweenPiecesMs = 60;  // about 1 MB/s a connection
    server.Route("/main.bin", ranged);
    server.Route("/mirror.bin", ranged);
    const std::wstring url = server.WideUrl("/main.bin");
    const std::wstring mirror = server.WideUrl("/mirror.bin");
    // A folder left by a killed test process may come back under a reused id.
    ::DeleteFileW(target.c_str());
    ::DeleteFileW(CRangeControlFile::PathFor(target).c_str());
    std::mt19937 random(5);
    bool resumedRanges = false;
    for (int kill = 0; kill < 3; ++kill) {
        const std::vector<ByteRange> missing = MissingNow(target, size);
        resumedRanges = resumedRanges || missing.size() > 1;
        const uint64_t missingBefore = BytesIn(missing);
        const size_t first = server.Requests().size();
        // Killed once the control file records some progress, a random
        // while later: anywhere between two of its updates.
        const uint64_t progress = size * (2 + random() % 6) / 100;
        const DWORD later = random() % 700;
        {
            Helper run;
            ASSERT_TRUE(run.Launch(url, target, static_cast<int64_t>(size), mirror)) << ::GetLastError();
            ASSERT_TRUE(PumpMessagesUntil(
                [&] {
                    uint64_t now = 0;
                    return RecordedMissing(target, size, &now) && now + progress <= missingBefore;
                },
                60000));
            PumpMessagesFor(later);
            ASSERT_TRUE(::TerminateProcess(run.process.hProcess, 9));
            EXPECT_EQ(run.WaitExit(10000), 9u);
        }
        ExpectOnlyMissingAsked(server.Requests(), first, size, missing);
    }
    const std::vector<ByteRange> missing = MissingNow(target, size);
    EXPECT_TRUE(resumedRanges || missing.size() > 1) << "no run left more than one range to resume";
    const size_t first = server.Requests().size();
    Helper last;
    ASSERT_TRUE(last.Launch(url, target, static_cast<int64_t>(size), mirror));
    EXPECT_EQ(last.WaitExit(60000), 0u);
    EXPECT_TRUE(Target() == body) << "file differs from the source";
    ExpectOnlyMissingAsked(server.Requests(), first, size, missing);
    EXPECT_EQ(::GetFileAttributesW(CRangeControlFile::PathFor(target).c_str()), INVALID_FILE_ATTRIBUTES);
}
