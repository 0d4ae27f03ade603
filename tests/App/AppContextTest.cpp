#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "App/AppContext.h"
#include "App/DescriptorOverride.h"
#include "Http/HttpEngines.h"
#include "Http/CurlWorkshop.h"
#include "Runtime/LogSinks.h"
#include "Runtime/MainThreadDispatcher.h"
#include "support/Files.h"
#include "support/HttpTestSupport.h"
#include "support/MessagePump.h"

TEST(SourceId, ParsedLikeWtoiAndTruncatedTo16Bits) {
    struct Case {
        const wchar_t* commandLine;
        uint16_t expected;
    } cases[] = {
        {nullptr, 0},       {L"", 0},         {L"12", 12},     {L"12 abc", 12},
        {L"12abc", 12},     {L"abc", 0},      {L"  42", 42},   {L"+7", 7},
        {L"65535", 65535},  {L"65536", 0},    {L"70000", 4464}, {L"-1", 65535},
        {L"0x10", 0},       {L"1.9", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSourceId(c.commandLine), c.expected) << (c.commandLine ? c.commandLine : L"(null)");
}

// An elevated shipping build must not let the user's environment name a
// file for it to append to; test and demo builds keep their diagnostics.
TEST(Diagnostics, EnvironmentTurnsLoggersOnOnlyWhenAllowed) {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + L"kv-diagnostics-" + std::to_wstring(::GetCurrentProcessId()) + L".log";
    ::DeleteFileW(path.c_str());
    _wputenv((L"KV_LOG_FILE=" + path).c_str());
    _wputenv(L"KV_LOG_TRACE=1");

    ConfigureDiagnostics(false);
    EXPECT_FALSE(FileLogger::Instance().IsEnabled());
    EXPECT_FALSE(TraceLogger::Instance().IsEnabled());
    EXPECT_EQ(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "the named file was created";

    ConfigureDiagnostics(true);
    EXPECT_TRUE(FileLogger::Instance().IsEnabled());
    EXPECT_TRUE(TraceLogger::Instance().IsEnabled());

    // Back to the silent loggers the other tests expect.
    _wputenv(L"KV_LOG_FILE=");
    _wputenv(L"KV_LOG_TRACE=");
    FileLogger::Instance().SetOptions(nullptr);
    TraceLogger::Instance().SetOptions(nullptr);
    FileLogger::Instance().SetOutputFile(nullptr);  // the stream stays open until exit
}

// Test builds take descriptor endpoints from the environment, but only ones
// on this machine: an address that only looks local reaches another host.
TEST(DescriptorOverride, OnlyLoopbackHttpAddressesAreTaken) {
    struct Case {
        const wchar_t* url;
        bool loopback;
    } cases[] = {
        {L"http://127.0.0.1:18380/kvinstall.txt", true},
        {L"http://localhost:18380/kvinstall.txt", true},
        {L"http://localhost/kvinstall.txt", true},
        {L"http://127.1.2.3/x", true},
        {L"http://localhost:@203.0.113.7/kvinstall.txt", false},  // user-info, then another host
        {L"http://127.0.0.1@203.0.113.7/", false},
        {L"http://127.0.0.1.example/kvinstall.txt", false},       // a name that starts like an address
        {L"http://localhost.example/", false},
        {L"http://127.0.0/x", false},
        {L"http://localhost:80x/", false},
        {L"https://127.0.0.1/x", false},
        {L"http://203.0.113.7/x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsLoopbackHttpUrl(c.url), c.loopback) << c.url;
}

// /LOG= is opened by an elevated process: only a full path, and never
// through a link; a refused path turns no logger on.
TEST(LogFileSwitch, OnlyAFullPathIsTaken) {
    for (const wchar_t* path : {L"install.log", L"logs\\install.log", L"C:install.log", L"\\install.log",
                                L"\\\\?\\C:\\install.log", L"\\\\.\\NUL", L""}) {
        std::wstring why;
        EXPECT_FALSE(UseLogFileAt(path, why)) << path;
        EXPECT_NE(why.find(L"full path"), std::wstring::npos) << path << ": " << why;
    }
    EXPECT_FALSE(FileLogger::Instance().IsEnabled());
}

// A host directory link (prepared by with-host-fixtures.sh) on the way to
// the file, or as the file itself (Wine shows a host link to a file as a
// plain file, so only the opened file's final path gives it away): refused,
// and the file behind it keeps its bytes.
TEST(HostFixture, LogFileBehindALinkIsRefused) {
    const wchar_t* tree = _wgetenv(L"KV_LINK_TREE");
    const wchar_t* target = _wgetenv(L"KV_LINK_TARGET");
    if (!tree || !target) GTEST_SKIP() << "run through with-host-fixtures.sh";
    const std::wstring kept = std::wstring(target) + L"\\keep.txt";
    const std::string before = ReadFileBytes(kept);
    std::wstring why;
    for (const std::wstring& path : {std::wstring(tree) + L"\\dirlink\\keep.txt", std::wstring(_wgetenv(L"KV_FILE_LINK"))}) {
        EXPECT_FALSE(UseLogFileAt(path, why)) << path;
        EXPECT_EQ(why, L"it is a link or behind one");
    }
    EXPECT_FALSE(FileLogger::Instance().IsEnabled());
    EXPECT_EQ(ReadFileBytes(kept), before);
}

namespace {
int g_ran = 0;
void Bump(int, int) { ++g_ran; }
}  // namespace

TEST(AppLifecycle, StartupRunsTheDispatcherAndShutdownDropsQueuedWork) {
    // The test entry already initialised a dispatcher; take it down so that
    // start-up does the work itself.
    ShutdownMainThreadDispatcher();
    AppStartup();
    ASSERT_NE(GetMainThreadDispatcherWindow(), nullptr);
    wchar_t cls[64] = {};
    ::GetClassNameW(GetMainThreadDispatcherWindow(), cls, 64);
    EXPECT_STREQ(cls, L"ThreadingWindowClass");
    EXPECT_EQ(GetMainThreadFiredMessage(), ::RegisterWindowMessageW(L"com.korvel.MainThreadFired"));
    // Both HTTP engines run, each with its worker thread and scheduler.
    EXPECT_TRUE(HttpEnginesRunning());
    ASSERT_NE(GetCurlWorkshop(HttpEngine::Command), nullptr);
    ASSERT_NE(GetCurlWorkshop(HttpEngine::Download), nullptr);
    EXPECT_NE(GetCurlWorkshop(HttpEngine::Command), GetCurlWorkshop(HttpEngine::Download));
    EXPECT_TRUE(GetCurlWorkshop(HttpEngine::Command)->IsRunning());
    EXPECT_TRUE(GetCurlWorkshop(HttpEngine::Download)->IsRunning());
    EXPECT_NE(GetHttpMgr(HttpEngine::Command), nullptr);
    EXPECT_NE(GetHttpMgr(HttpEngine::Download), nullptr);

    PostToMainThread(Bump, 1, 1);
    ASSERT_TRUE(PumpMessagesUntil([] { return g_ran == 1; }, 2000));

    PostToMainThread(Bump, 1, 1);  // still queued at shutdown: never runs
    AppShutdown();
    EXPECT_EQ(GetMainThreadDispatcherWindow(), nullptr);
    EXPECT_FALSE(HttpEnginesRunning());
    EXPECT_EQ(GetCurlWorkshop(HttpEngine::Command), nullptr);
    EXPECT_EQ(GetHttpMgr(HttpEngine::Download), nullptr);
    DispatchPendingMessages();  // no dispatcher window any more to run it
    EXPECT_EQ(g_ran, 1);
    InitMainThreadDispatcher();  // for the test entry's own shutdown
    ShutdownMainThreadDispatcher();
}

// A worker that posts while the engines stop: its task goes with the queue,
// never left behind for a dispatcher started later.
TEST(AppLifecycle, ShutdownJoinsTheWorkersBeforeDroppingTheQueue) {
    ShutdownMainThreadDispatcher();
    AppStartup();
    CCurlWorkshop* worker = GetCurlWorkshop(HttpEngine::Command);
    static std::atomic<bool> entered{false}, lateRan{false};
    worker->SetTeardownHookForTesting([worker] {
        entered = true;
        SpinUntil([worker] { return worker->IsStopRequested(); }, 5000);
        PostToMainThread([] { lateRan = true; });
    });
    CHttpCommand command;
    command.SetUrl(L"http://127.0.0.1:" + std::to_wstring(UnusedLoopbackPort()) + L"/");
    ASSERT_TRUE(SubmitCommand(&command));
    ASSERT_TRUE(SpinUntil([] { return entered.load(); }, 10000));
    AppShutdown();
    InitMainThreadDispatcher();
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_FALSE(lateRan);
}
