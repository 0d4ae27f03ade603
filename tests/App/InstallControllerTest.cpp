// What the controller does with each kind of failure: what it tells, whether it retries, where the run goes.
#include <gtest/gtest.h>

#include "App/ExitCode.h"
#include "App/InstallController.h"
#include "Http/HttpResultCodes.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/MessagePump.h"

namespace {
struct FakeView : IInstallView {
    bool attended = true, offered = false;
    std::vector<std::wstring> told;  // notices and the folder box
    int exitCode = -1;
    EarlierChoice AskAboutEarlierInstall() override { return EarlierChoice::kInstallOver; }
    void InstallOverEarlier() override {} void ShowInstalling() override {} void ShowDownloadRestarted() override {}
    void ShowDownloadProgress(int64_t, int64_t, uint64_t) override {} void ShowInstallAnimation(int) override {}
    bool AnimatesInstall() const override { return false; }
    void ShowFailureNotice(const std::wstring& text) override { told.push_back(text); }
    bool RetriesForEver() const override { return attended; }
    bool OfferAnotherFolder(const std::wstring& text) override { return told.push_back(text), offered = attended; }
    int asked = 0;
    bool AskDownloadAgain(bool sourcesLeft) override { return ++asked, sourcesLeft && !attended; }
    int loginAsked = 0;  // and cancelled
    bool AskProxyLogin() override { return ++loginAsked, false; }
    void End(int code) override { exitCode = code; }
};
struct FakeModule : IUpdateModule {
    FakeModule(int* r, uint64_t n) : restarts(r), needed(n) {}
    int* restarts; uint64_t needed;
    bool Start() override { return true; }
    void Stop() override {}
    void Restart() override { ++*restarts; }
    const std::wstring& ExpectedSha256() const override { static const std::wstring none; return none; }
    uint64_t BytesStillNeeded() const override { return needed; }
    int64_t ServerTime() const override { return 1796685300; }
    // The addresses, and the ones the download took bytes from.
    std::vector<std::wstring> sources, used, *chosen = nullptr;
    void SetOnlySource(const std::wstring& url) override { if (chosen) chosen->push_back(url); }
    std::vector<std::wstring> PackageSources() const override { return sources; }
    std::vector<std::wstring> SourcesUsed() const override { return used; }
};
}  // namespace
TEST(InstallController, EachFailureKindIsToldRetriedOrEndsTheRun) {
    const __time64_t serverTime = 1796685300;  // the fake module's
    wchar_t server[32];
    wcsftime(server, 32, L"%Y-%m-%d %H:%M", _localtime64(&serverTime));
    const std::wstring clock = L"您的电脑时间不正确（电脑：****************，服务器：" + std::wstring(server) + L"），请校准时间后重试";
    const std::wstring locked = L"安装包正被其他程序使用（可能是杀毒软件），请稍后重试";
    const HttpResult kNet{5, 7}, k404{4, 404}, k407{4, 407};
    // script: a failure a cycle, the last again (none: the install thread's open); %s: the folder; exit -1: goes on
    const struct { std::vector<HttpResult> script; bool descriptor, attended; std::vector<std::wstring> told; int exitCode; uint64_t needed = 0; int64_t headersAt = -1; } cases[] = {
        {{kNet, kNet, k404}, true, true, {L"安装失败，请检查网络后重试(5,7)", L"下载服务器暂时无法提供安装包，正在重试…"}, -1},
        {{kNet}, false, false, {L"安装失败，请检查网络后重试！(5,7)"}, kExitNetworkUnreachable},
        {{kNet}, false, true, {L"安装失败，请检查网络后重试！(5,7)"}, -1, 0, 500},  // each cycle's answer brings no byte
        {{kDescriptorWithoutUrl}, true, false, {L"下载服务器暂时无法提供安装包，正在重试…"}, kExitSourceFailed},
        {{kSignInPage}, false, false, {L"当前网络需要登录（如酒店、机场的无线网络），请在浏览器中登录后重试"}, kExitSourceFailed},
        {{kClockWrong}, true, false, {clock}, kExitClockWrong},
        {{kBadSignature}, true, false, {L"安装信息校验失败，当前网络可能被篡改，请更换网络后重试"}, kExitDescriptorRefused},
        {{kFileLocked}, false, true, {locked}, -1},
        {{}, false, true, {locked}, -1},
        {{}, false, false, {}, kExitFileLocked},
        {{kNoRoomForPackage}, false, true, {L"系统盘空间不足或无法写入（更换安装目录无济于事，请先清理系统盘）：%s（还需要约 48 MB）"}, -1, 50331000},
        {{kSinkOpenFailed}, false, true, {L"系统盘空间不足或无法写入（更换安装目录无济于事，请先清理系统盘）：%s"}, -1},
        {{kNoRoomForPackage}, false, false, {L"系统盘空间不足或无法写入（更换安装目录无济于事，请先清理系统盘）：%s（还需要约 1 MB）"}, kExitNoDiskSpace, 1},
        {{k407}, true, true, {L"安装失败，请检查网络后重试(4,407)"}, -1},  // the login box once, cancelled
        {{k407}, true, false, {}, kExitProxyLogin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TempDir dir;
        LogCapture log;
        // Held as a scanner would hold it: the install thread cannot open it.
        const std::wstring staging = dir.File(L"KorvelQixarInstaller");
        ::CreateDirectoryW(staging.c_str(), nullptr);
        kv::UniqueKernelHandle held(::CreateFileW((staging + L"\\kvinstaller.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        FakeView view;
        view.attended = c.attended;
        int restarts = 0, modules = 0, reported = 0;
        auto makeModule = [&](const std::wstring&, IGameEventListener*) { return ++modules, std::make_unique<FakeModule>(&restarts, c.needed); };
        CInstallController controller(view, makeModule);
        controller.SetRetryTimes({10, 5, 300});
        controller.SetNetworkTimeout(c.attended ? INFINITE : 0);
        controller.Initialise(0);
        controller.SetInstallDir(dir.Path());
        controller.SetStagingParent(dir.Path());
        controller.BeginPackagePhase();
        const auto retries = [&] { return restarts + static_cast<int>(log.Count(L"opening the package again")); };
        // Each cycle the module starts reports the script's next failure.
        PumpMessagesUntil([&] {
            if (reported <= restarts && view.exitCode == -1 && !view.offered && (!c.script.empty() || !reported)) {
                const HttpResult r = c.script.empty() ? HttpResult{} : c.script[std::min(reported, int(c.script.size()) - 1)];
                if (c.headersAt >= 0) controller.OnProgress(1000, c.headersAt, 0);
                c.descriptor ? controller.OnDescriptor(r, L"1", L"") : controller.OnDone(r, L"");
                ++reported;
            }
            return view.exitCode != -1 || view.offered || retries() >= 12;
        }, 5000);
        // The PC's own time moves on as the test runs: only its place is compared.
        for (auto& text : view.told) if (text.find(L"（电脑：") == 9) text.replace(13, 16, 16, L'*');
        for (auto& text : view.told) if (text.find(staging) != std::wstring::npos) text.replace(text.find(staging), staging.size(), L"%s");
        EXPECT_EQ(view.told, c.told);
        EXPECT_EQ(view.exitCode, c.exitCode);
        const FailureKind kind = c.script.empty() ? FailureKind::kLocked : Classify(c.script[0]);
        EXPECT_EQ(log.Count(L"locked: trying again") >= 3, kind == FailureKind::kLocked);
        EXPECT_TRUE(kind == FailureKind::kDisk ? retries() == 0 : (retries() >= 12) == (c.exitCode == -1)) << retries();
        if (view.offered) controller.BeginPackagePhase();  // installing again from the folder page
        EXPECT_EQ(modules, view.offered ? 2 : 1);
        EXPECT_EQ(view.loginAsked, c.attended && !c.script.empty() && c.script[0].code == 407 ? 1 : 0);
    }
}

// After digest mismatches an unattended run fetches bytes that came from
// several addresses again from the main Url alone, then drops each address
// whose own bytes fail and tries the next alone, and ends with 4 only when
// every one has failed alone. A window run asks before each download.
TEST(InstallController, DigestMismatchesTryEachAddressAloneUntilNoneIsLeft) {
    const std::wstring m = L"http://127.0.0.1:1/p.exe", a = L"http://localhost:1/a.exe", b = L"http://localhost:1/b.exe";
    // gone: an address that answers 404 alone.
    const struct { std::vector<std::vector<std::wstring>> used; bool attended; std::vector<std::wstring> chosen; int asked; std::wstring gone; } cases[] = {
        {{{m, a, b}, {m}, {a}, {b}}, false, {L"", m, a, b}, 3, L""},  // ranges from all, then each alone
        {{{m}, {a}, {b}}, false, {L"", a, b}, 3, L""},               // one stream from the main Url at first
        {{{m, b}, {m}}, true, {L"", m}, 1, L""},                     // the window asks, and the user quits
        {{{m, a, b}, {m}, {b}}, false, {L"", m, a, b}, 2, m},   // the main Url gone: dropped without its bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TempDir dir;
        FakeView view;
        view.attended = c.attended;
        int restarts = 0;
        std::vector<std::wstring> chosen;
        size_t downloads = 0;
        auto makeModule = [&](const std::wstring&, IGameEventListener*) {
            auto module = std::make_unique<FakeModule>(&restarts, 0);
            module->sources = {m, a, b};
            module->used = c.used[std::min(downloads, c.used.size() - 1)];
            module->chosen = &chosen;
            return module;
        };
        CInstallController controller(view, makeModule);
        controller.Initialise(0);
        controller.SetInstallDir(dir.Path());
        controller.SetStagingParent(dir.Path());
        controller.BeginPackagePhase();
        // Each download ends with a package whose digest is not the
        // descriptor's, once the last install thread has let go of the file.
        auto writePackage = [&] {
            kv::UniqueKernelHandle file(::CreateFileW(dir.File(L"KorvelQixarInstaller\\kvinstaller.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written = 0;
            return file && ::WriteFile(file.get(), "not the package", 15, &written, nullptr);
        };
        PumpMessagesUntil([&] {
            const bool gone = !c.gone.empty() && !chosen.empty() && chosen.back() == c.gone;
            if (downloads < chosen.size() && view.exitCode == -1 && (gone || writePackage())) {
                controller.OnDescriptor(HttpResult{}, L"1", L"00000000000000000000000000000000");
                controller.OnDone(gone ? HttpResult{4, 404} : HttpResult{}, L"");
                ++downloads;
            }
            return view.exitCode != -1;
        }, 10000);
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(view.asked, c.asked);
        EXPECT_EQ(view.exitCode, kExitDigestMismatch);
    }
}

// A source that drips bytes (less than 1% of the size a window) never fails,
// yet ends an unattended run with 3 once it has dripped for the network
// time-out; a download that moves well, or a window run, goes on.
TEST(InstallController, ADownloadThatHardlyMovesEndsAnUnattendedRun) {
    // restartEvery: the download starts again from nothing every so many reports
    const struct { int64_t perStep; bool attended; int exitCode; DWORD timeoutMs = 300; int restartEvery = 0; } cases[] = {
        {1, false, kExitNetworkUnreachable}, {20000, false, -1}, {1, true, -1},
        {20000, false, -1, 0}, {1, false, kExitNetworkUnreachable, 300, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TempDir dir;
        FakeView view;
        int restarts = 0;
        CInstallController controller(view, [&](const std::wstring&, IGameEventListener*) { return std::make_unique<FakeModule>(&restarts, 0); });
        controller.SetRetryTimes({10, 5, 300, 50});
        controller.SetNetworkTimeout(c.attended ? INFINITE : c.timeoutMs);
        controller.Initialise(0);
        controller.SetInstallDir(dir.Path());
        controller.SetStagingParent(dir.Path());
        controller.BeginPackagePhase();
        int64_t complete = 0, reports = 0;
        const ULONGLONG start = ::GetTickCount64();
        PumpMessagesUntil([&] {
            if (c.restartEvery && ++reports % c.restartEvery == 0) complete = 0;
            if (view.exitCode == -1) controller.OnProgress(1000000, complete += c.perStep, 0);
            ::Sleep(5);
            return view.exitCode != -1;
        }, 1500);
        EXPECT_EQ(view.exitCode, c.exitCode);
        if (c.exitCode != -1) {
            EXPECT_GE(::GetTickCount64() - start, 300u);
        }
    }
}
