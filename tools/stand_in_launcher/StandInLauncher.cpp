// Stand-in for the installed launcher "KorvelLauncher.exe": appends the
// command line it was started with to "launcher-calls.txt" beside itself (one
// UTF-8 line per start) and exits 0. With KV_LAUNCHER_STAY=1 in the
// environment, or a file "stay" beside it, it stays running until killed, so
// that a test can watch it being stopped.
#include <windows.h>

#include <string>

namespace {

std::wstring OwnDir() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, n < MAX_PATH ? n : 0);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : full.substr(0, slash);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void AppendCall(const std::wstring& file, const std::wstring& commandLine) {
    // Several starts may race: append-only writes with a short retry on sharing.
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE h = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            const std::string line = ToUtf8(commandLine) + "\r\n";
            DWORD written = 0;
            ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            ::CloseHandle(h);
            return;
        }
        ::Sleep(20);
    }
}

bool AskedToStay(const std::wstring& dir) {
    wchar_t value[8] = {};
    if (::GetEnvironmentVariableW(L"KV_LAUNCHER_STAY", value, 8) > 0 && value[0] == L'1') return true;
    return ::GetFileAttributesW((dir + L"\\stay").c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring dir = OwnDir();
    AppendCall(dir + L"\\launcher-calls.txt", ::GetCommandLineW());
    if (AskedToStay(dir)) {
        for (;;) ::Sleep(1000);
    }
    return 0;
}
