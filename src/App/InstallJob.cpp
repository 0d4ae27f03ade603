#include "App/InstallJob.h"

#include <process.h>

#include "App/AppLog.h"
#include "App/InstallFolder.h"
#include "CommonUtils.h"
#include "Runtime/Handles.h"
#include "Runtime/TextUtils.h"
#include "Updater/FileDigest.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\InstallJob";
constexpr DWORD kAnimPollMs = 10;
constexpr DWORD kStopWaitMs = 100;
// A process that survives termination would otherwise be found forever.
constexpr int kMaxStopRounds = 20;
}  // namespace

std::wstring QuoteProgramPath(const std::wstring& path) {
    if (path.find(L' ') == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

std::wstring PackageCommandLine(const std::wstring& packagePath, const std::wstring& installDir) {
    return FormatString(L"%s /S \"/unpack=%s\" /launch=off", QuoteProgramPath(packagePath).c_str(),
                        installDir.c_str());
}

std::wstring LauncherCommandLine(const std::wstring& launcherPath, int sourceId) {
    return FormatString(L"%s -i \"%d\" -d", QuoteProgramPath(launcherPath).c_str(), sourceId);
}

CInstallJob::~CInstallJob() {
    if (thread_) ::CloseHandle(thread_);
}

bool CInstallJob::Start(const std::shared_ptr<CInstallJob>& job) {
    auto* ref = new std::shared_ptr<CInstallJob>(job);
    const uintptr_t h = _beginthreadex(nullptr, 0, &CInstallJob::ThreadEntry, ref, 0, nullptr);
    if (h == 0) {
        delete ref;
        KV_APP_LOG(Error, L"CInstallJob::Start the install thread could not be started");
        return false;
    }
    job->thread_ = reinterpret_cast<HANDLE>(h);
    return true;
}

unsigned __stdcall CInstallJob::ThreadEntry(void* param) {
    std::unique_ptr<std::shared_ptr<CInstallJob>> ref(static_cast<std::shared_ptr<CInstallJob>*>(param));
    (*ref)->InstallThreadProc();
    return 0;
}

void CInstallJob::Abandon(DWORD waitMs) {
    abandoned_ = true;
    // The thread may sit in the package's run, which has no time limit; the
    // process end takes it then.
    if (thread_ && ::GetCurrentThreadId() != ::GetThreadId(thread_)) ::WaitForSingleObject(thread_, waitMs);
}

void CInstallJob::PostToWindow(UINT msg, WPARAM wParam) {
    if (!abandoned_) ::PostMessageW(settings_.window, msg, wParam, 0);
}

void CInstallJob::InstallThreadProc() {
    const bool checkMd5 = !settings_.expectedMd5.empty();
    const bool checkSha256 = !settings_.expectedSha256.empty();
    if (checkMd5 || checkSha256) {
        // Both digests in one pass; "" when the file cannot be read, which never matches.
        const FileDigests actual = DigestFile(settings_.packagePath, checkSha256);
        const bool md5Ok = !checkMd5 || SameDigest(settings_.expectedMd5, actual.md5);
        const bool sha256Ok = !checkSha256 || SameDigest(settings_.expectedSha256, actual.sha256);
        if (!md5Ok || !sha256Ok) {
            KV_APP_LOG(Warn, L"CInstallJob::InstallThreadProc 文件校验失败 %s: %s %s != %s %s",
                       settings_.packagePath.c_str(), actual.md5.c_str(), actual.sha256.c_str(),
                       settings_.expectedMd5.c_str(), settings_.expectedSha256.c_str());
            PostToWindow(WM_PACKAGE_CORRUPT, 0);
            return;
        }
    }
    RunPackage();
}

void CInstallJob::RunPackage() {
    const std::wstring commandLine = PackageCommandLine(settings_.packagePath, settings_.installDir);
    if (settings_.existingInstall) StopRunningLauncher();
    if (abandoned_) return;
    KV_APP_LOG(Info, L"CInstallJob::RunPackage %s", commandLine.c_str());
    const DWORD error = RunAndWait(settings_.packagePath, commandLine);
    if (error != 0) {
        KV_APP_LOG(Warn, L"CInstallJob::RunPackage %s could not be run (%u)", commandLine.c_str(),
                   static_cast<unsigned>(error));
    }
    LaunchAndFinish();
    PostToWindow(WM_CLOSE, 1);
}

void CInstallJob::StopRunningLauncher() {
    const std::wstring& dir = settings_.installDir;
    // A drive root (or nothing) is no launcher folder: stopping "everything
    // on D:" and deleting D:\bin would be a disaster, not a reinstall.
    if (IsDriveRoot(dir)) {
        KV_APP_LOG(Warn, L"CInstallJob::StopRunningLauncher folder \"%s\" is a drive root; nothing stopped",
                   dir.c_str());
        return;
    }
    for (int round = 0; round < kMaxStopRounds && !abandoned_; ++round) {
        // Only processes inside the folder, never a sibling such as "<dir>2".
        const DWORD pid = FindProcessInFolder(dir);
        if (pid == 0 || pid == ::GetCurrentProcessId()) break;
        kv::UniqueHandle<kv::KernelHandleTraits> process(
            ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
        if (!process) break;
        if (::WaitForSingleObject(process.get(), kStopWaitMs) == WAIT_TIMEOUT) {
            KV_APP_LOG(Info, L"CInstallJob::StopRunningLauncher terminating process %u", static_cast<unsigned>(pid));
            ::TerminateProcess(process.get(), 0);
            ::WaitForSingleObject(process.get(), kStopWaitMs);
        }
    }
    DeleteDirectoryTree(dir + L"\\bin\\");
    for (const wchar_t* name : {kLauncherExeName, L"rnupdate.ini", L"uninst.exe", L"Launcher.ini"}) {
        RemoveFile(dir + L"\\" + name);
    }
}

void CInstallJob::LaunchAndFinish() {
    installDone = true;
    while (animCounter < kAnimEnd) {
        if (abandoned_) return;  // the window is gone: its timer no longer runs
        ::Sleep(kAnimPollMs);
    }
    if (abandoned_) return;
    const std::wstring launcher = settings_.installDir + L"\\" + kLauncherExeName;
    const std::wstring commandLine = settings_.sourceId > 0 ? LauncherCommandLine(launcher, settings_.sourceId) : L"";
    KV_APP_LOG(Info, L"CInstallJob::LaunchAndFinish %s [%s]", launcher.c_str(), commandLine.c_str());
    const DWORD error = StartProcess(launcher, commandLine);
    if (error != 0) {
        KV_APP_LOG(Warn, L"CInstallJob::LaunchAndFinish %s could not be started (%u)", launcher.c_str(),
                   static_cast<unsigned>(error));
    }
    if (!settings_.keepPackage) RemoveFile(settings_.packagePath);
    RemoveFile(settings_.packageDir + L"\\kvinstall.ini");
}
