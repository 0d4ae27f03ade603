// Starting the launcher through the desktop shell, so that it does not
// inherit the installer's rights, and the direct start when no shell is
// there. The stand-in launcher records its command line and, with a "stay"
// file beside it, keeps running so that its parent can be looked up.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "App/UnelevatedStart.h"
#include "Runtime/FileSystem.h"
#include "App/Processes.h"
#include "Runtime/TextUtils.h"
#include "support/Files.h"
#include "support/MessagePump.h"

namespace {

DWORD ParentOf(DWORD pid) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) parent = entry.th32ParentProcessID;
    }
    ::CloseHandle(snapshot);
    return parent;
}

void Terminate(DWORD pid) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return;
    ::TerminateProcess(process, 0);
    ::WaitForSingleObject(process, 5000);
    ::CloseHandle(process);
}

std::vector<std::wstring> Arguments(const std::string& recordedLine) {
    std::wstring line = Utf8ToWide(recordedLine);
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> out(args, args + (args ? count : 0));
    if (args) ::LocalFree(args);
    return out;
}

// Restores the desktop shell after a test that turned it off; meanwhile the
// installer has no more rights than its user (Wine runs every program
// elevated, with no unelevated process to start under).
struct ShellSwitch {
    explicit ShellSwitch(bool enabled) {
        SetDesktopShellEnabled(enabled);
        SetUserStartSystem(&kUsersOwnRights);
    }
    ~ShellSwitch() {
        SetDesktopShellEnabled(true);
        SetUserStartSystem(nullptr);
    }
    static const UserStartSystem kUsersOwnRights;
};
const UserStartSystem ShellSwitch::kUsersOwnRights = {&StartThroughDesktopShell, [] { return false; },
                                                      [] { return false; },     nullptr,
                                                      nullptr,                  nullptr};

}  // namespace

// Through the desktop shell the launcher and the agreement page (here a
// program, which "open" runs) are the shell's children, not the installer's
// (Wine has a desktop shell, so that path runs here); without a shell an
// installer with its user's rights alone starts them directly, the launcher with exactly the command line it always
// got. Either way the launcher sees the same arguments, blanks or not.
TEST(UnelevatedStart, ThroughTheDesktopShellOrDirectly) {
    const struct {
        bool page;
        bool shell;
        const wchar_t* folder;
    } cases[] = {
        {false, true, L"Korvel网络"}, {false, true, L"My Games"}, {false, false, L"Korvel网络"},
        {false, false, L"My Games"},  {true, true, L"My Games"},  {true, false, L"My Games"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.page ? "page, " : "launcher, ")
                                        << (c.shell ? "desktop shell, " : "no shell, ") << WideToUtf8(c.folder));
        TempDir dir;
        const std::wstring folder = dir.File(c.folder);
        ASSERT_TRUE(EnsureDirExists(folder));
        const std::wstring exe = folder + (c.page ? L"\\page.exe" : L"\\KorvelLauncher.exe");
        ASSERT_TRUE(::CopyFileW(KV_STANDIN_LAUNCHER, exe.c_str(), FALSE));
        WriteText(folder + L"\\stay", "");
        const std::wstring calls = folder + L"\\launcher-calls.txt";
        {
            ShellSwitch shell(c.shell);
            if (c.page) {
                OpenWebPage(exe);
            } else {
                ASSERT_EQ(StartLauncher(exe, L"-i \"7\" -d"), 0u);
            }
        }
        ASSERT_TRUE(PumpMessagesUntil([&] { return !ReadFileBytes(calls).empty(); }, 10000));
        DWORD pid = 0;
        ASSERT_TRUE(PumpMessagesUntil([&] { return (pid = FindProcessInFolder(folder)) != 0; }, 5000));
        const DWORD parent = ParentOf(pid);
        Terminate(pid);

        EXPECT_EQ(parent == ::GetCurrentProcessId(), !c.shell) << "parent " << parent;
        if (!c.page) {
            EXPECT_EQ(Arguments(ReadFileBytes(calls)), (std::vector<std::wstring>{exe, L"-i", L"7", L"-d"}));
            if (!c.shell) {
                EXPECT_EQ(Utf8ToWide(ReadFileBytes(calls)), QuoteProgramPath(exe) + L" -i \"7\" -d\r\n");
            }
        }
        for (const std::wstring& f : {exe, folder + L"\\stay", calls}) ::DeleteFileW(f.c_str());
        ::RemoveDirectoryW(folder.c_str());
    }
}

// Only a program called KorvelLauncher.exe is started, and a missing one is
// not handed to the shell (which would answer with a message box).
TEST(UnelevatedStart, StartsNothingButAnExistingLauncher) {
    TempDir dir;
    const std::wstring evil = dir.File(L"evil.exe");
    ASSERT_TRUE(::CopyFileW(KV_STANDIN_LAUNCHER, evil.c_str(), FALSE));
    EXPECT_EQ(StartLauncher(evil, L"-i \"7\" -d"), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(StartLauncher(dir.File(L"KorvelLauncher.exe"), L""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A start through the shell would run in another process and report
    // nothing back: only a bounded look can show that none came.
    PumpMessagesFor(500);
    EXPECT_EQ(ReadFileBytes(dir.File(L"launcher-calls.txt")), "");
    ::DeleteFileW(evil.c_str());
}

namespace {
// A system of the test's making: what the shell answers, who the installer
// is, which token or process there is to start with, and what was started.
struct FakeSystem {
    static ShellStartResult shell;
    static bool system, elevated, userAtConsole, userProcess;
    static HANDLE token, parent, startedWithToken, startedUnder;
    static HANDLE Event() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    static UserStartSystem Make() {
        return {[](const std::wstring&, const std::wstring&, const std::wstring&) { return shell; },
                [] { return system; }, [] { return elevated; },
                [] { return token = userAtConsole ? Event() : nullptr; },
                [] { return parent = userProcess ? Event() : nullptr; },
                [](HANDLE t, HANDLE p, const std::wstring&, const std::wstring&, const std::wstring&) {
                    startedWithToken = t, startedUnder = p;
                    return DWORD{0};
                }};
    }
};
ShellStartResult FakeSystem::shell;
bool FakeSystem::system, FakeSystem::elevated, FakeSystem::userAtConsole, FakeSystem::userProcess;
HANDLE FakeSystem::token, FakeSystem::parent, FakeSystem::startedWithToken, FakeSystem::startedUnder;
}  // namespace

// Without the desktop shell nothing gets the installer's own token: SYSTEM
// starts with the console user's token, an elevated installer under an
// unelevated process of its user, and with neither there is nobody to start
// it for. Only an installer with no more than its user's rights starts it
// itself. (Wine's WTSQueryUserToken hands back the caller's own token, so
// these sources are the test's.)
TEST(UnelevatedStart, WithoutTheShellNeverWithTheInstallersToken) {
    using P = UserStartPath;
    const auto kNo = ShellStartResult::kUnavailable;
    const struct { ShellStartResult shell; bool system, elevated, console, process; P path; DWORD error; } cases[] = {
        {ShellStartResult::kStarted, true, true, true, true, P::kDesktopShell, 0},
        {ShellStartResult::kRefused, true, true, true, true, P::kDesktopShell, ERROR_ACCESS_DENIED},
        {kNo, true, true, true, true, P::kConsoleUser, 0},
        {kNo, true, true, false, true, P::kNobody, kNoUserToStartFor},
        {kNo, false, true, true, true, P::kUnelevatedParent, 0},
        {kNo, false, true, true, false, P::kNobody, kNoUserToStartFor},
        {kNo, false, false, false, false, P::kDirect, 0},
    };
    TempDir dir;
    const std::wstring exe = dir.File(L"KorvelLauncher.exe");
    WriteText(exe, "");  // never run: the start is the fake's
    const UserStartSystem fake = FakeSystem::Make();
    SetUserStartSystem(&fake);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        FakeSystem::shell = c.shell, FakeSystem::system = c.system, FakeSystem::elevated = c.elevated;
        FakeSystem::userAtConsole = c.console, FakeSystem::userProcess = c.process;
        FakeSystem::token = FakeSystem::parent = FakeSystem::startedWithToken = FakeSystem::startedUnder = nullptr;
        UserStartPath path = P::kDirect;
        const DWORD error = StartLauncher(exe, L"-i \"7\" -d", &path);
        EXPECT_EQ(path, c.path);
        EXPECT_TRUE(c.path == P::kDirect || error == c.error) << error;  // a direct start of this file fails
        EXPECT_EQ(FakeSystem::startedWithToken, c.path == P::kConsoleUser ? FakeSystem::token : nullptr);
        EXPECT_EQ(FakeSystem::startedUnder, c.path == P::kUnelevatedParent ? FakeSystem::parent : nullptr);
        EXPECT_EQ(OpenWebPage(L"http://127.0.0.1:9/agreement.html"), c.path);
    }
    SetUserStartSystem(nullptr);
}
