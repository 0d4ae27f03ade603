// An unattended run settles its folder as the folder page does and ends
// with the matching exit code, logged, before any descriptor is fetched; a
// refused folder is not created.
#include <gtest/gtest.h>

#include <windows.h>

#include "App/ExitCode.h"
#include "App/InstallFolder.h"
#include "App/SilentRun.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/MessagePump.h"

namespace {
uint64_t g_freeBytes = 0;
bool g_systemShort = false;  // C:, the system drive, lacks room
uint64_t FakeFreeSpace(const std::wstring& drive) { return g_systemShort && drive == L"C:" ? 0 : g_freeBytes; }

// The exit code the run ended its message loop with; -1 when it did not end.
int QuitCode(DWORD timeoutMs) {
    bool quit = false;
    int code = -1;
    PollUntil([&quit] { return quit; }, timeoutMs, [&] {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (!quit && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                code = static_cast<int>(msg.wParam);
            } else {
                ::DispatchMessageW(&msg);
            }
        }
    });
    return code;
}
}  // namespace

TEST(SilentRun, FolderAndFreeSpaceAreCheckedBeforeAnyDownload) {
    TempDir dir;
    ::RemoveDirectoryW(dir.File(L"new").c_str());  // left by an earlier failed run of the same number
    SetFreeSpaceSource(&FakeFreeSpace);
    const struct {
        std::wstring typed;
        uint64_t freeBytes;
        int exitCode;
        bool systemShort = false;
    } cases[] = {
        {dir.File(L"new"), kRequiredFreeBytes - 1, kExitNoDiskSpace},
        {L"D:\\new", kRequiredFreeBytes, kExitNoDiskSpace, true},  // another folder cannot help
        {L"", kRequiredFreeBytes - 1, kExitNoDiskSpace},  // the default folder's drive
        {L"Games\\KorvelQixar", kRequiredFreeBytes, kExitInvalidFolder},
        {L"\\Games\\KorvelQixar", kRequiredFreeBytes, kExitInvalidFolder},
        {dir.Path() + L"/new", kRequiredFreeBytes, kExitInvalidFolder},
        {dir.File(L"a?b"), kRequiredFreeBytes, kExitInvalidFolder},  // cannot be created
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "/D=" << c.typed.c_str());
        g_freeBytes = c.freeBytes, g_systemShort = c.systemShort;
        InstallerOptions options;
        options.silent = true;
        options.installDir = c.typed;
        LogCapture log;
        CSilentRun run(options);
        run.Start(0);
        EXPECT_EQ(QuitCode(5000), c.exitCode);
        EXPECT_EQ(log.Count(L"Finish " + std::to_wstring(c.exitCode) + L" (" + ExitCodeMeaning(c.exitCode) + L")"), 1u);
        EXPECT_EQ(log.Count(L"[UM] descriptor from"), 0u);
        EXPECT_EQ(log.Count(L"free on the system drive"), c.systemShort ? 1u : 0u);
        EXPECT_EQ(::GetFileAttributesW(dir.File(L"new").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    g_systemShort = false;
    SetFreeSpaceSource(nullptr);
}

// A folder that is a link (a host directory link, prepared by
// with-host-fixtures.sh) or lies behind one is refused with 6, and nothing
// is created behind the link.
TEST(HostFixture, LinkedInstallFolderIsRefused) {
    const wchar_t* link = _wgetenv(L"KV_LINK_ROOT");
    const wchar_t* target = _wgetenv(L"KV_LINK_TARGET");
    if (!link || !target) GTEST_SKIP() << "run through with-host-fixtures.sh";
    SetFreeSpaceSource(&FakeFreeSpace);
    g_freeBytes = kRequiredFreeBytes;
    for (const std::wstring& typed : {std::wstring(link), std::wstring(link) + L"\\KorvelQixar"}) {
        SCOPED_TRACE(testing::Message() << "/D=" << typed.c_str());
        InstallerOptions options;
        options.silent = true;
        options.installDir = typed;
        LogCapture log;
        CSilentRun run(options);
        run.Start(0);
        EXPECT_EQ(QuitCode(5000), kExitInvalidFolder);
        EXPECT_EQ(log.Count(L"FolderCrossesLink"), 1u);
    }
    EXPECT_EQ(::GetFileAttributesW((std::wstring(target) + L"\\KorvelQixar").c_str()), INVALID_FILE_ATTRIBUTES);
    SetFreeSpaceSource(nullptr);
}
