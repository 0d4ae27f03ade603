// A download whose process is killed mid-transfer resumes from the partial
// file when started again and ends byte-identical. The download runs in
// download_helper.exe, beside this test program.
#include "DownloadTestSupport.h"

namespace {

std::wstring HelperPath() {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"download_helper.exe";
}

struct Helper {
    PROCESS_INFORMATION process{};
    bool Launch(const std::wstring& url, const std::wstring& target, int64_t expected) {
        std::wstring command = L"\"" + HelperPath() + L"\" \"" + url + L"\" \"" + target + L"\" " + std::to_wstring(expected);
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
