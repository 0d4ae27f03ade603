// download_helper.exe <url> <target file> <expected size> [mirrors]: downloads
// one file with CHttpDownloadFile on the download engine, as the installer
// does, and exits 0 on success and 1 on failure (2: bad arguments). The kill
// tests end it mid-transfer and run it again.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "Http/HttpDownloadFile.h"
#include "Http/HttpEngines.h"
#include "Runtime/MainThreadDispatcher.h"

namespace {

struct Outcome {
    int32_t type = -1;
    int32_t code = -1;
};

void OnDone(Outcome* outcome, const HttpResult& result) {
    outcome->type = result.type;
    outcome->code = result.code;
    ::PostQuitMessage(0);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || (argc != 4 && argc != 5)) {
        std::fprintf(stderr, "usage: download_helper <url> <target> <expected size> [mirrors]\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring target = argv[2];
    const int64_t expected = std::wcstoll(argv[3], nullptr, 10);
    const std::wstring mirrors = argc == 5 ? argv[4] : L"";
    ::LocalFree(argv);

    InitMainThreadDispatcher();
    StartHttpEngines();
    Outcome outcome;
    int result = 1;
    {
        CHttpDownloadFile download;
        download.Resolver().SetResolvers({});  // no address fallback here
        download.SetCallbacks([&outcome](const HttpResult& result) { OnDone(&outcome, result); }, nullptr);
        if (download.Download(mirrors, url, target, expected)) {
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        download.Stop();
        result = (outcome.type == 0 && outcome.code == 0) ? 0 : 1;
    }
    StopHttpEngines();
    ShutdownMainThreadDispatcher();
    std::printf("download_helper: type %d code %d\n", outcome.type, outcome.code);
    return result;
}
