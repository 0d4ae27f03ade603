// Downloads one URL into one file with CHttpDownloadFile on the download
// engine (worker thread, scheduler, progress ticks, file sink), the way the
// installer fetches its package, and prints one line the scripts read:
//   RESULT bytes=<n> seconds=<s> mbps=<MB/s, 10^6 bytes> peak_ws_kib=<k> type=<t> code=<c> progress_calls=<p> max_speed=<B/s> main_busiest_ms=<ms> sha256_ms_per_gib=<ms>
// The peak working set is the process's own (GetProcessMemoryInfo);
// main_busiest_ms is the most time the main thread spent handling messages
// within one second of the download; sha256_ms_per_gib the thread CPU time
// of hashing 64 MiB in memory, per GiB (with piece digests only, else 0).
// Usage: bench_download.exe <url> <target file> [<mirrors> <size> [connections [pieces file]]]
// Without a size (bench/bench_download.sh) the file is written from 0 as
// one stream; with one (bench/bench_segmented.sh) a package of 8 MiB or more
// may go in parallel ranges over the mirrors ("" for none), on up to
// `connections` connections (1 keeps it a single stream; 0 or none: the
// engine's own). A pieces file holds "PieceSize=" and "Pieces=" lines
// (scripts/piece-digests.sh): the download checks them.
// With KV_BENCH_KEEP_PARTIAL=1 in the environment a partial target file is
// resumed (not deleted first) and the line also carries check_s, the seconds
// until the first progress beyond the partial file (its pieces' check and the
// first bytes), and check_busiest_ms, the main thread's busiest second in them.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

#include "Http/PieceDigests.h"
#include "Runtime/Sha256.h"
#include "Runtime/TextUtils.h"

#include "Http/HttpDownloadFile.h"
#include "Http/HttpEngines.h"
#include "Runtime/MainThreadDispatcher.h"

namespace {

struct Outcome {
    int32_t type = -1;
    int32_t code = -1;
    int progressCalls = 0;
    uint32_t maxSpeed = 0;
    int64_t resumedFrom = 0;  // size of the partial file at the start
    double firstBytes = 0;    // when progress first went past it
};

void OnDone(Outcome* outcome, const HttpResult& result) {
    outcome->type = result.type;
    outcome->code = result.code;
    ::PostQuitMessage(0);
}

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void OnProgress(Outcome* outcome, int64_t downloaded, uint32_t speed) {
    ++outcome->progressCalls;
    if (speed > outcome->maxSpeed) outcome->maxSpeed = speed;
    if (outcome->firstBytes == 0 && downloaded > outcome->resumedFrom) outcome->firstBytes = Now();
}

int64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The value of "key=" in a file of such lines, "" when absent.
std::wstring ValueIn(const std::wstring& path, const std::string& key) {
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, key.size() + 1, key + "=") == 0) return Utf8ToWide(line.substr(key.size() + 1));
    }
    return L"";
}

double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

// Thread CPU milliseconds of SHA-256 per GiB, over 64 MiB in memory.
double Sha256MsPerGiB() {
    std::vector<char> data(64 << 20, 'k');
    const double start = ThreadCpuSeconds();
    CSha256 hash;
    hash.Update(data.data(), data.size());
    hash.HexDigest();
    return (ThreadCpuSeconds() - start) * 1000.0 * 16.0;
}

}  // namespace

// wmain (-municode): the C runtime splits the wide command line, so the
// program need not load shell32 (and the modules it pulls in) for it.
int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 5 && argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: bench_download <url> <target file> [<mirrors> <size> [connections [pieces file]]]\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring target = argv[2];
    const std::wstring mirrors = argc >= 5 ? argv[3] : L"";
    // Expected size 0: no resume, the file is written from 0.
    const int64_t size = argc >= 5 ? std::wcstoll(argv[4], nullptr, 10) : 0;
    const long connections = argc >= 6 ? std::wcstol(argv[5], nullptr, 10) : 0;
    std::shared_ptr<const CPieceDigests> pieces;
    double shaMsPerGiB = 0;
    if (argc == 7) {
        if (!CPieceDigests::Parse(ValueIn(argv[6], "PieceSize"), ValueIn(argv[6], "Pieces"), size, &pieces) || !pieces) {
            std::fprintf(stderr, "bench_download: pieces file: unusable PieceSize or Pieces\n");
            return 2;
        }
        shaMsPerGiB = Sha256MsPerGiB();
    }
    const bool resume = ::GetEnvironmentVariableW(L"KV_BENCH_KEEP_PARTIAL", nullptr, 0) != 0;
    if (!resume) {
        ::DeleteFileW(target.c_str());
        ::DeleteFileW((target + L".ranges").c_str());
    }

    InitMainThreadDispatcher();
    StartHttpEngines(/*withCommandEngine=*/false);  // a download needs no command engine
    Outcome outcome;
    outcome.resumedFrom = std::max<int64_t>(FileSize(target), 0);
    double seconds = 0;
    std::vector<double> busy;  // seconds of message handling in each second of the download
    {
        CHttpDownloadFile download;
        download.Resolver().SetResolvers({});
        if (connections > 0) download.SetMaxConnections(static_cast<size_t>(connections));
        download.SetPieceDigests(pieces);
        download.SetCallbacks([&outcome](const HttpResult& result) { OnDone(&outcome, result); },
                              [&outcome](int64_t, int64_t downloaded, uint32_t speed) { OnProgress(&outcome, downloaded, speed); });
        const double start = Now();
        if (download.Download(mirrors, url, target, size)) {
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                const double begin = Now();
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
                const double end = Now();
                const size_t second = static_cast<size_t>(begin - start);
                if (busy.size() <= second) busy.resize(second + 1, 0.0);
                busy[second] += end - begin;
            }
        }
        seconds = Now() - start;
        if (outcome.firstBytes != 0) outcome.firstBytes -= start;
        download.Stop();
    }
    StopHttpEngines();
    ShutdownMainThreadDispatcher();

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    const int64_t bytes = FileSize(target);
    const double busiest = busy.empty() ? 0.0 : *std::max_element(busy.begin(), busy.end());
    std::printf("RESULT bytes=%lld seconds=%.3f mbps=%.1f peak_ws_kib=%llu type=%d code=%d progress_calls=%d max_speed=%u "
                "main_busiest_ms=%.1f sha256_ms_per_gib=%.0f\n",
                static_cast<long long>(bytes), seconds, seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize / 1024), outcome.type, outcome.code,
                outcome.progressCalls, outcome.maxSpeed, busiest * 1000.0, shaMsPerGiB);
    if (resume) {
        // The seconds up to the one in which the first bytes beyond the partial file came.
        const size_t checkSeconds = std::min(busy.size(), static_cast<size_t>(outcome.firstBytes) + 1);
        const double checkBusiest = checkSeconds ? *std::max_element(busy.begin(), busy.begin() + checkSeconds) : 0.0;
        std::printf("RESUME from=%lld check_s=%.3f check_busiest_ms=%.1f busy_ms=", static_cast<long long>(outcome.resumedFrom),
                    outcome.firstBytes, checkBusiest * 1000.0);
        for (double b : busy) std::printf("%.0f,", b * 1000.0);
        std::printf("\n");
    }
    return (outcome.type == 0 && outcome.code == 0) ? 0 : 1;
}
