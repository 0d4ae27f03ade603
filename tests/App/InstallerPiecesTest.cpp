// The pieces of the installer window that are pure text or run without it:
// the progress bar's description, the install job's command lines, its hold
// on the package and what it cleans of an earlier installation.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

#include "App/InstallJob.h"
#include "App/ProgressBarImage.h"
#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"
#include "App/Processes.h"
#include "Runtime/TextUtils.h"
#include "Updater/FileDigest.h"
#include "support/Files.h"
#include "support/MessagePump.h"

namespace {
const std::wstring kGap = L" \t\t\t\t\t\t\t\t\t   ";
}

TEST(ProgressBar, DescriptionFillAndHighlight) {
    // Download half done on a 500-pixel bar, highlight at 300: the fill's
    // highlight covers [70, 250] of the fill, source columns 0..180.
    const int fill = ProgressFill(500, false, 0, 1000, 500);
    EXPECT_EQ(fill, 225);
    EXPECT_EQ(ProgressBarDescription(500, fill, 300),
              L"file='progress_bk.png' dest='0,0,500,30'" + kGap +
                  L"file='progress_fore.png' corner='0,10,110,10' dest='0,0,225,30'" + kGap +
                  L"file='pro_flash_bk.png' corner='0,0,0,0' dest='220,0,300,30' source='0,0,80,30'" + kGap +
                  L"file='pro_flash_fore.png' corner='0,0,0,0' dest='70,0,225,30' source='0,0,155,30'" + kGap);
    // Highlight near the left end: the background part is clipped at 0 and
    // the fill part is empty (both source values 0).
    EXPECT_EQ(ProgressBarDescription(500, 0, 30),
              L"file='progress_bk.png' dest='0,0,500,30'" + kGap +
                  L"file='progress_fore.png' corner='0,10,0,10' dest='0,0,0,30'" + kGap +
                  L"file='pro_flash_bk.png' corner='0,0,0,0' dest='0,0,30,30' source='50,0,80,30'" + kGap +
                  L"file='pro_flash_fore.png' corner='0,0,0,0' dest='0,0,0,30' source='0,0,0,30'" + kGap);

    // The download fills 90%, the install animation the rest; a ready package
    // is all animation; an unknown total fills nothing.
    EXPECT_EQ(ProgressFill(500, false, 0, 100, 100), 450);
    EXPECT_EQ(ProgressFill(500, false, 900, 100, 100), 500);
    EXPECT_EQ(ProgressFill(500, false, 450, 100, 100), 475);
    EXPECT_EQ(ProgressFill(500, true, 450, 0, 0), 250);
    EXPECT_EQ(ProgressFill(500, false, 0, 0, 0), 0);
    // Totals beyond 32 bits.
    EXPECT_EQ(ProgressFill(500, false, 0, 8000000000LL, 4000000000LL), 225);

    // The bar's value is the filled share in whole percent (the fill in
    // pixels was once set as the value: refused above 100, it read "100%"
    // from a fifth of a 500-pixel bar on).
    EXPECT_EQ(ProgressPercent(500, 0), 0);
    EXPECT_EQ(ProgressPercent(500, 4), 0);
    EXPECT_EQ(ProgressPercent(500, 225), 45);
    EXPECT_EQ(ProgressPercent(500, 499), 99);
    EXPECT_EQ(ProgressPercent(500, 500), 100);
    EXPECT_EQ(ProgressPercent(500, 600), 100);
    EXPECT_EQ(ProgressPercent(0, 10), 0);

    // 3 pixels per tick, wrapping 80 pixels past the right end.
    EXPECT_EQ(AdvanceFlash(0, 500), 3);
    EXPECT_EQ(AdvanceFlash(576, 500), 579);
    EXPECT_EQ(AdvanceFlash(577, 500), 0);
}

// Each animation step repaints only the columns whose look changed: both
// highlights before and after, and the fill from 0 when it moved.
TEST(ProgressBar, StepRepaintsOnlyWhatChanged) {
    const struct { int oldFill, oldFlash, newFill, newFlash, left, right; } cases[] = {
        {225, 300, 225, 303, 70, 303},  // highlight moves over a half-filled bar
        {0, 30, 0, 33, 0, 33},          // near the start of an empty bar
        {225, 300, 226, 303, 0, 303},   // the fill grows: from the start
        {225, 300, 225, 300, 0, 0},     // nothing moved
        {225, 578, 225, 0, 0, 500},     // the highlight wraps: from its new place to its old
        {-1, 0, 0, 3, 0, 500},          // not drawn by the animation yet: all
        {500, 560, 500, 563, 330, 500}, // past the bar's end: clipped
    };
    for (const auto& c : cases) {
        const BarSpan span = ProgressBarChange(500, c.oldFill, c.oldFlash, c.newFill, c.newFlash);
        EXPECT_EQ(span.left, c.left) << c.oldFill << "/" << c.oldFlash << " -> " << c.newFill << "/" << c.newFlash;
        EXPECT_EQ(span.right, c.right) << c.oldFill << "/" << c.oldFlash << " -> " << c.newFill << "/" << c.newFlash;
    }
}

TEST(InstallCommandLines, ProgramPathQuotedOnlyWithABlank) {
    EXPECT_EQ(PackageCommandLine(L"D:\\Korvel网络\\KorvelQixar\\kvinstaller.exe", L"D:\\Korvel网络\\KorvelQixar"),
              L"D:\\Korvel网络\\KorvelQixar\\kvinstaller.exe /S \"/unpack=D:\\Korvel网络\\KorvelQixar\" /launch=off");
    EXPECT_EQ(PackageCommandLine(L"C:\\Program Files\\Q\\kvinstaller.exe", L"C:\\Program Files\\Q"),
              L"\"C:\\Program Files\\Q\\kvinstaller.exe\" /S \"/unpack=C:\\Program Files\\Q\" /launch=off");
    EXPECT_EQ(LauncherCommandLine(L"D:\\Q\\KorvelLauncher.exe", 7), L"D:\\Q\\KorvelLauncher.exe -i \"7\" -d");
    EXPECT_EQ(LauncherCommandLine(L"C:\\Program Files\\Q\\KorvelLauncher.exe", 0),
              L"\"C:\\Program Files\\Q\\KorvelLauncher.exe\" -i \"0\" -d");
}

namespace {
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> out(args, args + (args ? count : 0));
    if (args) ::LocalFree(args);
    return out;
}
}  // namespace

// Whatever folder was typed or recorded, each command line parses back into
// exactly the intended arguments. Regression: a folder ending in "\" made
// "/unpack=D:\Q\" swallow the closing quote and "/launch=off" with it.
TEST(InstallCommandLines, ArgumentsSurviveAnyFolder) {
    const struct {
        const wchar_t* typed;
        const wchar_t* folder;  // as the package should read it
    } cases[] = {
        {L"D:\\Korvel网络\\KorvelQixar", L"D:\\Korvel网络\\KorvelQixar"},
        {L"C:\\Program Files\\Q", L"C:\\Program Files\\Q"},
        {L"D:\\Q\\", L"D:\\Q"},
        {L"D:\\My Games\\KorvelQixar\\", L"D:\\My Games\\KorvelQixar"},
        {L"E:\\游戏 目录\\新建\\\\", L"E:\\游戏 目录\\新建"},
        {L"D:\\Games\\..\\", L"D:\\"},
        {L"D:\\", L"D:\\"},
        {L"D:\\a\"b\\", L"D:\\a\"b"},  // no file name holds a quote, but a registry value may
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed folder " << WideToUtf8(c.typed));
        const std::wstring package = ChildPath(c.folder, L"kvinstaller.exe");
        EXPECT_EQ(SplitCommandLine(PackageCommandLine(package, c.typed)),
                  (std::vector<std::wstring>{package, L"/S", std::wstring(L"/unpack=") + c.folder, L"/launch=off"}));
        if (std::wstring(c.folder).find(L'"') != std::wstring::npos) continue;  // no launcher lies there
        const std::wstring launcher = ChildPath(c.folder, L"KorvelLauncher.exe");
        EXPECT_EQ(SplitCommandLine(LauncherCommandLine(launcher, 7)),
                  (std::vector<std::wstring>{launcher, L"-i", L"7", L"-d"}));
    }
}

namespace {
// Counts the reports the install thread posts to the main thread.
struct PostedReports {
    std::function<void(InstallReport)> Report() {
        return [this](InstallReport report) {
            if (report == InstallReport::kFinished) ++finished;
            if (report == InstallReport::kPackageCorrupt) ++corrupt;
        };
    }
    int finished = 0;
    int corrupt = 0;
};

}  // namespace

TEST(InstallJob, DigestMismatchReportsCorruptAndRunsNothing) {
    TempDir dir;
    WriteText(dir.File(L"kvinstaller.exe"), "not the package");
    WriteText(dir.File(L"kvinstall.ini"), "x");
    PostedReports reports;
    InstallSettings s;
    s.report = reports.Report();
    s.packagePath = dir.File(L"kvinstaller.exe");
    s.packageDir = s.installDir = dir.Path();
    s.expectedMd5 = L"00000000000000000000000000000000";
    auto job = std::make_shared<CInstallJob>(s);
    ASSERT_TRUE(CInstallJob::Start(job));
    EXPECT_TRUE(PumpMessagesUntil([&] { return reports.corrupt == 1; }, 10000));
    job->RequestStop(5000);
    EXPECT_EQ(reports.finished, 0);
    EXPECT_FALSE(job->installDone);
    EXPECT_TRUE(Exists(dir.File(L"kvinstaller.exe")));  // kept for the user's "重新下载" or exit
    EXPECT_TRUE(Exists(dir.File(L"kvinstall.ini")));
}

// The descriptor's optional Sha256 must match as well as its Md5, in any
// case; either one wrong takes the corrupt-package path.
TEST(InstallJob, Sha256IsCheckedBesideMd5) {
    const wchar_t kMd5[] = L"8dd36ce0adacf3ae1874c3feaccd3d30";  // of "not the package"
    const wchar_t kSha[] = L"9cec5880638024e269dddcdd7f99e8f4ffb18307c443bad37e6daf9295066d3e";
    const wchar_t kShaUpper[] = L"9CEC5880638024E269DDDCDD7F99E8F4FFB18307C443BAD37E6DAF9295066D3E";
    const wchar_t kShaWrong[] = L"9cec5880638024e269dddcdd7f99e8f4ffb18307c443bad37e6daf9295066d3f";
    struct Case {
        const wchar_t* md5;
        const wchar_t* sha256;
        bool corrupt;
    } cases[] = {
        {kMd5, kSha, false}, {kMd5, kShaUpper, false}, {kMd5, L"", false},
        {kMd5, kShaWrong, true}, {L"", kShaWrong, true}, {L"", kSha, false},
        {L"00000000000000000000000000000000", kSha, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Md5 '" << c.md5 << "' Sha256 '" << c.sha256 << "'");
        TempDir dir;
        WriteText(dir.File(L"kvinstaller.exe"), "not the package");
        PostedReports reports;
        InstallSettings s;
        s.report = reports.Report();
        s.packagePath = dir.File(L"kvinstaller.exe");
        s.packageDir = s.installDir = dir.Path();
        s.keepPackage = true;
        s.expectedMd5 = c.md5;
        s.expectedSha256 = c.sha256;
        auto job = std::make_shared<CInstallJob>(s);
        job->animCounter = CInstallJob::kAnimEnd;  // no controller animates it here
        ASSERT_TRUE(CInstallJob::Start(job));
        EXPECT_TRUE(PumpMessagesUntil([&] { return reports.corrupt + reports.finished == 1; }, 10000));
        job->RequestStop(5000);
        EXPECT_EQ(reports.corrupt, c.corrupt ? 1 : 0);
        EXPECT_EQ(reports.finished, c.corrupt ? 0 : 1);
    }
}

TEST(InstallJob, EarlierInstallAtADriveRootStopsAndDeletesNothing) {
    // A launcher recorded at a drive root must not make the installer clean
    // the drive: its "bin" folder and the launcher files there stay, also
    // when the root is spelt "C:\Games\..".
    TempDir dir;
    const std::wstring root = dir.Path().substr(0, 3);  // "C:\"
    const std::wstring bin = root + L"bin", marker = bin + L"\\kv-installjob-marker.txt";
    const std::wstring launcher = root + L"Launcher.ini";
    const bool hadBin = Exists(bin), hadLauncherIni = Exists(launcher);
    ::CreateDirectoryW(bin.c_str(), nullptr);
    WriteText(marker, "stay");
    if (!hadLauncherIni) WriteText(launcher, "stay");

    PostedReports reports;
    for (const std::wstring& installDir : {root, root.substr(0, 2), root + L"Games\\.."}) {
        InstallSettings s;
        s.report = reports.Report();
        s.packagePath = dir.File(L"missing-package.exe");
        s.packageDir = dir.Path();
        s.installDir = installDir;
        s.existingInstall = true;
        s.earlierLauncher = installDir + L"\\KorvelLauncher.exe";
        auto job = std::make_shared<CInstallJob>(s);
        job->animCounter = CInstallJob::kAnimEnd;  // no controller animates it here
        const int before = reports.finished;
        ASSERT_TRUE(CInstallJob::Start(job));
        EXPECT_TRUE(PumpMessagesUntil([&] { return reports.finished == before + 1; }, 10000)) << installDir;
        job->RequestStop(5000);
        EXPECT_TRUE(Exists(marker)) << installDir;
        EXPECT_TRUE(Exists(launcher)) << installDir;
    }
    ::DeleteFileW(marker.c_str());
    if (!hadBin) ::RemoveDirectoryW(bin.c_str());
    if (!hadLauncherIni) ::DeleteFileW(launcher.c_str());
}

TEST(InstallJob, StoppedByItsOwnerTheThreadEndsAndTouchesNothing) {
    // The window went (confirmed exit or Escape) while the thread waited for
    // the install animation: the thread ends, posts nothing, starts and
    // deletes nothing.
    TempDir dir;
    WriteText(dir.File(L"kvinstall.ini"), "x");
    PostedReports reports;
    InstallSettings s;
    s.report = reports.Report();
    s.packagePath = dir.File(L"missing-package.exe");
    s.packageDir = s.installDir = dir.Path();
    auto job = std::make_shared<CInstallJob>(s);
    ASSERT_TRUE(CInstallJob::Start(job));
    ASSERT_TRUE(PumpMessagesUntil([&] { return job->installDone.load(); }, 10000));
    std::weak_ptr<CInstallJob> watch = job;
    job->RequestStop(5000);
    job.reset();
    EXPECT_TRUE(watch.expired());  // the thread has let go of the job: it ended
    ASSERT_TRUE(RunQueuedMainThreadTasks());  // whatever it posted has run by now
    EXPECT_EQ(reports.finished, 0);
    EXPECT_TRUE(Exists(dir.File(L"kvinstall.ini")));
}

namespace {
// Runs one install job to its end (finished or corrupt) without
// the window's animation; true when it ended within the time.
bool RunJobToItsEnd(const InstallSettings& settings, PostedReports& reports, DWORD timeoutMs = 20000) {
    InstallSettings s = settings;
    s.report = reports.Report();
    auto job = std::make_shared<CInstallJob>(s);
    job->animCounter = CInstallJob::kAnimEnd;  // no controller animates it here
    const int before = reports.finished + reports.corrupt;
    if (!CInstallJob::Start(job)) return false;
    const bool ended = PumpMessagesUntil([&] { return reports.finished + reports.corrupt > before; }, timeoutMs);
    job->RequestStop(5000);
    return ended;
}
}  // namespace

// From the digest check to the end of the package's process the checked file
// cannot be changed: writing, replacing, renaming and deleting it all fail.
// The package here is the stand-in launcher, kept running by a "stay" file
// beside it; once it has ended the job deletes the package as before.
TEST(InstallJob, PackageCannotBeChangedFromTheCheckToItsEnd) {
    TempDir dir;
    const std::wstring package = dir.File(L"kvinstaller.exe");
    ASSERT_TRUE(::CopyFileW(KV_STANDIN_LAUNCHER, package.c_str(), FALSE));
    WriteText(dir.File(L"stay"), "");
    WriteText(dir.File(L"other.exe"), "another program");
    InstallSettings s;
    s.packagePath = package;
    s.packageDir = dir.Path();
    s.installDir = dir.File(L"target");  // no launcher there: none is started
    s.expectedMd5 = DigestFile(package, false).md5;
    PostedReports reports;
    s.report = reports.Report();
    auto job = std::make_shared<CInstallJob>(s);
    job->animCounter = CInstallJob::kAnimEnd;
    ASSERT_TRUE(CInstallJob::Start(job));
    // The stand-in writes its record as soon as it runs.
    ASSERT_TRUE(PumpMessagesUntil([&] { return Exists(dir.File(L"launcher-calls.txt")); }, 10000));

    const struct {
        const char* what;
        bool (*attempt)(const TempDir& dir);
    } attempts[] = {
        {"write", [](const TempDir& d) {
             HANDLE h = ::CreateFileW(d.File(L"kvinstaller.exe").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
             if (h == INVALID_HANDLE_VALUE) return false;
             ::CloseHandle(h);
             return true;
         }},
        {"replace", [](const TempDir& d) {
             return ::MoveFileExW(d.File(L"other.exe").c_str(), d.File(L"kvinstaller.exe").c_str(),
                                  MOVEFILE_REPLACE_EXISTING) != 0;
         }},
        {"rename", [](const TempDir& d) {
             return ::MoveFileW(d.File(L"kvinstaller.exe").c_str(), d.File(L"renamed.exe").c_str()) != 0;
         }},
        {"delete", [](const TempDir& d) { return ::DeleteFileW(d.File(L"kvinstaller.exe").c_str()) != 0; }},
    };
    for (const auto& a : attempts) EXPECT_FALSE(a.attempt(dir)) << a.what << " succeeded while the package ran";
    EXPECT_EQ(DigestFile(package, false).md5, s.expectedMd5);

    // End the package; the job then lets go of it and deletes it.
    const DWORD pid = FindProcessInFolder(dir.Path());
    ASSERT_NE(pid, 0u);
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr);
    ::TerminateProcess(process, 0);
    ::WaitForSingleObject(process, 5000);
    ::CloseHandle(process);
    EXPECT_TRUE(PumpMessagesUntil([&] { return reports.finished == 1; }, 10000));
    job->RequestStop(5000);
    EXPECT_EQ(reports.corrupt, 0);
    EXPECT_FALSE(Exists(package));
    for (const wchar_t* name : {L"stay", L"other.exe", L"renamed.exe", L"launcher-calls.txt"})
        ::DeleteFileW(dir.File(name).c_str());
}

// Installing over an earlier installation cleans the folder of its launcher
// and nothing else: a typed folder that merely resolves elsewhere
// ("<tmp>\sub\..") keeps its "bin" and "uninst.exe"; the earlier folder is
// cleaned only when the package goes into it, however that was spelt.
TEST(InstallJob, CleansOnlyTheFolderOfTheEarlierLauncher) {
    TempDir dir;
    const std::wstring old = dir.File(L"old");
    ASSERT_TRUE(EnsureDirExists(old + L"\\bin"));
    ASSERT_TRUE(EnsureDirExists(dir.File(L"bin")));
    const std::wstring oldFiles[] = {old + L"\\KorvelLauncher.exe", old + L"\\uninst.exe", old + L"\\bin\\core.dll"};
    const std::wstring typedFiles[] = {dir.File(L"bin\\marker"), dir.File(L"uninst.exe")};
    const struct {
        std::wstring installDir;
        bool oldCleaned;
    } cases[] = {
        {dir.File(L"sub\\.."), false},
        {dir.File(L"sub\\..\\"), false},
        {old + L"\\sub\\..\\", true},
    };
    PostedReports reports;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed folder " << WideToUtf8(c.installDir));
        for (const auto& f : oldFiles) WriteText(f, "old");
        for (const auto& f : typedFiles) WriteText(f, "keep");
        InstallSettings s;
        s.packagePath = dir.File(L"missing-package.exe");
        s.packageDir = dir.Path();
        s.installDir = c.installDir;
        s.existingInstall = true;
        s.earlierLauncher = old + L"\\KorvelLauncher.exe";
        ASSERT_TRUE(RunJobToItsEnd(s, reports));
        for (const auto& f : typedFiles) EXPECT_TRUE(Exists(f)) << WideToUtf8(f);
        for (const auto& f : oldFiles) EXPECT_EQ(Exists(f), !c.oldCleaned) << WideToUtf8(f);
    }
    for (const auto& f : oldFiles) ::DeleteFileW(f.c_str());
    for (const auto& f : typedFiles) ::DeleteFileW(f.c_str());
    for (const wchar_t* folder : {L"old\\bin", L"old", L"bin"}) ::RemoveDirectoryW(dir.File(folder).c_str());
}

// What an unattended run turns into its exit code: the package's own exit
// code (the stand-in package ends with 3 when it cannot make its folder),
// and no launcher started when told not to.
TEST(InstallJob, RecordsThePackagesExitCodeAndStartsNoLauncherWhenToldNot) {
    TempDir dir;
    const std::wstring package = dir.File(L"kvinstaller.exe");
    ASSERT_TRUE(::CopyFileW(KV_STANDIN_PACKAGE, package.c_str(), FALSE));
    WriteText(dir.File(L"afile"), "a file where a folder should be");
    const struct {
        std::wstring installDir;
        DWORD exitCode;
    } cases[] = {
        {dir.File(L"target"), 0},
        {dir.File(L"afile\\target"), 3},
    };
    PostedReports reports;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << WideToUtf8(c.installDir));
        InstallSettings s;
        s.report = reports.Report();
        s.packagePath = package;
        s.packageDir = dir.Path();
        s.installDir = c.installDir;
        s.keepPackage = true;
        s.noLaunch = true;
        auto job = std::make_shared<CInstallJob>(s);
        job->animCounter = CInstallJob::kAnimEnd;  // no controller animates it here
        const int before = reports.finished;
        ASSERT_TRUE(CInstallJob::Start(job));
        ASSERT_TRUE(PumpMessagesUntil([&] { return reports.finished > before; }, 20000));
        job->RequestStop(5000);
        EXPECT_EQ(job->packageRunError.load(), 0u);
        EXPECT_EQ(job->packageExitCode.load(), c.exitCode);
        EXPECT_EQ(job->launcherError.load(), 0u);
    }
    EXPECT_TRUE(Exists(dir.File(L"target\\KorvelLauncher.exe")));
    EXPECT_FALSE(Exists(dir.File(L"target\\launcher-calls.txt")));  // never started
    ::DeleteFileW(dir.File(L"target\\KorvelLauncher.exe").c_str());
    ::RemoveDirectoryW(dir.File(L"target").c_str());
    ::DeleteFileW(dir.File(L"afile").c_str());
    ::DeleteFileW(package.c_str());
}

// The package's folder is a link (a host symbolic link, prepared by
// with-host-fixtures.sh; Windows would have a junction): it could be pointed
// elsewhere between the check and the start, so the package is refused like
// a corrupt one even though its digest matches.
TEST(HostFixture, PackageBehindALinkIsRefused) {
    const wchar_t* link = _wgetenv(L"KV_PACKAGE_LINK");
    if (!link) GTEST_SKIP() << "run through with-host-fixtures.sh";
    const std::wstring package = std::wstring(link) + L"\\kvinstaller.exe";
    WriteText(package, "not the package");
    InstallSettings s;
    s.packagePath = package;
    s.packageDir = link;
    s.installDir = link;
    s.keepPackage = true;
    s.expectedMd5 = DigestFile(package, false).md5;
    ASSERT_EQ(s.expectedMd5.size(), 32u);
    PostedReports reports;
    ASSERT_TRUE(RunJobToItsEnd(s, reports));
    EXPECT_EQ(reports.corrupt, 1);
    EXPECT_EQ(reports.finished, 0);
    ::DeleteFileW(package.c_str());
}

// A package that never ends (the stand-in launcher kept running by a "stay"
// file) is ended once its time is up; the outcome says so and no launcher
// is started from a half installation.
TEST(InstallJob, APackageThatNeverEndsIsEndedAtItsTimeout) {
    TempDir dir;
    const std::wstring package = dir.File(L"kvinstaller.exe");
    ASSERT_TRUE(::CopyFileW(KV_STANDIN_LAUNCHER, package.c_str(), FALSE));
    WriteText(dir.File(L"stay"), "");
    InstallSettings s;
    s.packagePath = package;
    s.packageDir = dir.Path();
    s.installDir = dir.Path();  // its launcher would be the package's own folder's
    s.keepPackage = true;
    s.packageTimeoutMs = 500;
    PostedReports reports;
    ASSERT_TRUE(RunJobToItsEnd(s, reports));
    EXPECT_EQ(reports.finished, 1);
    EXPECT_EQ(FindProcessInFolder(dir.Path()), 0u) << "the package still runs";
    ::DeleteFileW(dir.File(L"stay").c_str());
    ::DeleteFileW(package.c_str());
}
