// Hashes one file with the installer's MD5 (Md5OfFile, the call the package
// check makes) and prints "RESULT bytes=<n> seconds=<s> mbps=<MB/s> md5=<hex>"
// (MB = 10^6 bytes). Run by bench_md5.sh, which measures md5sum beside it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "Runtime/FileSystem.h"
#include "Updater/Md5.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: bench_md5.exe <file>\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const int64_t bytes = GetFileSize64(path);
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const std::wstring digest = Md5OfFile(path);
    ::QueryPerformanceCounter(&end);
    if (digest.empty() || bytes <= 0) {
        std::fwprintf(stderr, L"cannot read %ls\n", path.c_str());
        return 1;
    }
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::wprintf(L"RESULT bytes=%lld seconds=%.3f mbps=%.1f md5=%ls\n", static_cast<long long>(bytes), seconds,
                 static_cast<double>(bytes) / seconds / 1e6, digest.c_str());
    return 0;
}
