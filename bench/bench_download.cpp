// Downloads one URL into one file with CHttpDownloadFile on the download
// engine (worker thread, scheduler, progress ticks, file sink), the way the
// installer fetches its package, and prints one line the script reads:
//   RESULT bytes=<n> seconds=<s> mbps=<MB/s, 10^6 bytes> peak_ws_kib=<k> type=<t> code=<c>
// The peak working set is the process's own (GetProcessMemoryInfo).
// Usage: bench_download.exe <url> <target file>   (bench/bench_download.sh)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "Http/HttpDownloadFile.h"
#include "Http/HttpEngines.h"
#include "Runtime/MainThreadDispatcher.h"

namespace {

struct Outcome {
    int32_t type = -1;
    int32_t code = -1;
    int progressCalls = 0;
};

void OnDone(void* owner, int32_t type, int32_t code) {
    auto* outcome = static_cast<Outcome*>(owner);
    outcome->type = type;
    outcome->code = code;
    ::PostQuitMessage(0);
}

void OnProgress(void* owner, int64_t, int64_t, uint32_t) { ++static_cast<Outcome*>(owner)->progressCalls; }

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

int64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

// wmain (-municode): the C runtime splits the wide command line, so the
// program need not load shell32 (and the modules it pulls in) for it.
int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_download <url> <target file>\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring target = argv[2];
    ::DeleteFileW(target.c_str());

    InitMainThreadDispatcher();
    StartHttpEngines(/*withCommandEngine=*/false);  // a download needs no command engine
    Outcome outcome;
    double seconds = 0;
    {
        CHttpDownloadFile download;
        download.Resolver().SetResolvers({});
        download.SetCallbacks(&OnDone, &OnProgress);
        const double start = Now();
        // Expected size 0: no resume, the file is written from 0.
        if (download.Download(L"", url, target, 0, &outcome)) {
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        seconds = Now() - start;
        download.Stop();
    }
    StopHttpEngines();
    ShutdownMainThreadDispatcher();

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    const int64_t bytes = FileSize(target);
    std::printf("RESULT bytes=%lld seconds=%.3f mbps=%.1f peak_ws_kib=%llu type=%d code=%d progress_calls=%d\n",
                static_cast<long long>(bytes), seconds, seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize / 1024), outcome.type, outcome.code,
                outcome.progressCalls);
    return (outcome.type == 0 && outcome.code == 0) ? 0 : 1;
}
