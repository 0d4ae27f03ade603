#include "App/InstallJob.h"

#include <process.h>

#include "App/InstallFolder.h"
#include "App/UnelevatedStart.h"
#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"
#include "App/Processes.h"
#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Runtime/MainThreadTask.h"
#include "Runtime/TextUtils.h"
#include "Updater/FileDigest.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\InstallJob";
constexpr DWORD kAnimPollMs = 10;
constexpr DWORD kStopWaitMs = 100;
// A process that survives termination would otherwise be found forever.
constexpr int kMaxStopRounds = 20;
}  // namespace

// The folder as the package should read it after "/unpack=": canonical
// when it can be, never ending in "\" but at a drive root, and quoted so that
// the quote stays the end of the argument.
std::wstring PackageCommandLine(const std::wstring& packagePath, const std::wstring& installDir) {
    std::wstring folder = CanonicalPath(installDir);
    if (folder.empty()) folder = installDir;
    return FormatString(L"%s /S %s /launch=off", QuoteProgramPath(packagePath).c_str(),
                        QuoteArgument(L"/unpack=" + folder).c_str());
}

std::wstring LauncherArguments(int sourceId) { return FormatString(L"-i \"%d\" -d", sourceId); }

std::wstring LauncherCommandLine(const std::wstring& launcherPath, int sourceId) {
    return FormatString(L"%s %s", QuoteProgramPath(launcherPath).c_str(), LauncherArguments(sourceId).c_str());
}

namespace {

// The settings with the paths that decisions rest on in canonical form; a
// text that cannot be made canonical (no drive named) is kept as it is, and
// never cleaned.
InstallSettings Canonical(InstallSettings settings) {
    for (std::wstring* path : {&settings.packagePath, &settings.installDir, &settings.earlierLauncher}) {
        std::wstring canonical = CanonicalPath(*path);
        if (!canonical.empty()) *path = std::move(canonical);
    }
    return settings;
}

}  // namespace

CInstallJob::CInstallJob(InstallSettings settings) : settings_(Canonical(std::move(settings))) {}

bool CInstallJob::Start(const std::shared_ptr<CInstallJob>& job) {
    auto* ref = new std::shared_ptr<CInstallJob>(job);
    const uintptr_t h = _beginthreadex(nullptr, 0, &CInstallJob::ThreadEntry, ref, 0, nullptr);
    if (h == 0) {
        delete ref;
        KV_LOG(kToConsole | kToFile, Error, L"CInstallJob::Start the install thread could not be started");
        return false;
    }
    job->thread_.reset(reinterpret_cast<HANDLE>(h));
    return true;
}

unsigned __stdcall CInstallJob::ThreadEntry(void* param) {
    std::unique_ptr<std::shared_ptr<CInstallJob>> ref(static_cast<std::shared_ptr<CInstallJob>*>(param));
    (*ref)->InstallThreadProc();
    return 0;
}

void CInstallJob::RequestStop(DWORD waitMs) {
    stopRequested_ = true;
    // The thread may sit in the package's run, which has no time limit; the
    // process end takes it then.
    if (thread_ && ::GetCurrentThreadId() != ::GetThreadId(thread_.get())) ::WaitForSingleObject(thread_.get(), waitMs);
}

void CInstallJob::Report(InstallReport report) {
    if (settings_.report && !stopRequested_) PostToMainThread(settings_.report, report);
}

void CInstallJob::InstallThreadProc() {
    // Held from the digest check to the end of the package's process: nobody
    // else can write, replace, rename or delete the package meanwhile.
    DWORD openError = 0;
    kv::UniqueKernelHandle package = OpenPackage(openError);
    // Held by another program: neither corrupt nor runnable yet.
    if (openError == ERROR_SHARING_VIOLATION || openError == ERROR_LOCK_VIOLATION) {
        KV_LOG(kToConsole | kToFile, Warn, L"CInstallJob::InstallThreadProc %s is held by another program (%u)",
               settings_.packagePath.c_str(), static_cast<unsigned>(openError));
        Report(InstallReport::kPackageLocked);
        return;
    }
    if (!settings_.expectedMd5.empty() || !settings_.expectedSha256.empty()) {
        if (!package || !PackageMatches(package.get())) {
            Report(InstallReport::kPackageCorrupt);
            return;
        }
    }
    RunPackage(std::move(package));
}

kv::UniqueKernelHandle CInstallJob::OpenPackage(DWORD& error) const {
    // Readable by others (the package's own process opens its image), never
    // writable or deletable; a link is opened as itself, not followed.
    HANDLE file = ::CreateFileW(settings_.packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    return kv::UniqueKernelHandle(file);
}

bool CInstallJob::PackageMatches(HANDLE package) const {
    // A link, as the package or on the way to it, could be pointed elsewhere
    // between the check and the start; the file itself is held still.
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool link = !::GetFileInformationByHandle(package, &info) ||
                      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                      PathCrossesLink(DirOfFile(settings_.packagePath));
    // Both digests in one pass; "" when the file cannot be read, which never matches.
    const bool checkSha256 = !settings_.expectedSha256.empty();
    const FileDigests actual = link ? FileDigests() : DigestOpenFile(package, checkSha256);
    const bool md5Ok = settings_.expectedMd5.empty() || SameDigest(settings_.expectedMd5, actual.md5);
    const bool sha256Ok = !checkSha256 || SameDigest(settings_.expectedSha256, actual.sha256);
    if (!link && md5Ok && sha256Ok) {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallJob::InstallThreadProc digests of %s match: md5 %s sha256 %s",
               settings_.packagePath.c_str(), actual.md5.c_str(), checkSha256 ? actual.sha256.c_str() : L"-");
        return true;
    }
    KV_LOG(kToConsole | kToFile, Warn, L"CInstallJob::InstallThreadProc 文件校验失败 %s%s: %s %s != %s %s",
           settings_.packagePath.c_str(), link ? L" (a link or behind one)" : L"", actual.md5.c_str(),
           actual.sha256.c_str(), settings_.expectedMd5.c_str(), settings_.expectedSha256.c_str());
    return false;
}

void CInstallJob::RunPackage(kv::UniqueKernelHandle package) {
    const std::wstring commandLine = PackageCommandLine(settings_.packagePath, settings_.installDir);
    if (settings_.existingInstall) CleanEarlierInstall();
    if (stopRequested_) return;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallJob::RunPackage %s", commandLine.c_str());
    DWORD exitCode = 0;
    const DWORD error = RunAndWait(settings_.packagePath, commandLine, settings_.packageTimeoutMs, &exitCode, true,
                                   settings_.workDir);
    packageRunError = error;
    packageExitCode = exitCode;
    if (error == WAIT_TIMEOUT) {
        // Half an installation: no launcher is started from it.
        KV_LOG(kToConsole | kToFile, Error, L"CInstallJob::RunPackage ended after %u s",
               static_cast<unsigned>(settings_.packageTimeoutMs / 1000));
        Report(InstallReport::kFinished);
        return;
    }
    if (error != 0) {
        KV_LOG(kToConsole | kToFile, Warn, L"CInstallJob::RunPackage %s could not be run (%u)", commandLine.c_str(),
               static_cast<unsigned>(error));
    } else {
        KV_LOG(kToConsole | kToFile, exitCode == 0 ? Info : Warn,
               L"CInstallJob::RunPackage the package ended with exit code %u", static_cast<unsigned>(exitCode));
    }
    package.reset();  // the package has ended: it may be deleted now
    if (LaunchAndFinish()) Report(InstallReport::kFinished);
}

void CInstallJob::CleanEarlierInstall() {
    // Only the earlier installation is cleaned, and only when the package goes
    // into its very folder: a typed folder is never cleaned for its own sake.
    // A drive root (or nothing) is no launcher folder: stopping "everything
    // on D:" and deleting D:\bin would be a disaster, not a reinstall; and
    // nothing is cleaned through a link.
    const std::wstring& launcher = settings_.earlierLauncher;
    const std::wstring folder = DirOfFile(launcher);
    const wchar_t* refusal =
        !NamesLauncherProgram(launcher) || !SamePath(folder, settings_.installDir) ? L"not the earlier folder"
        : IsDriveRoot(folder) || CanonicalPath(folder) != folder                   ? L"a drive root or no full path"
                                                                                   : nullptr;
    // Held until the cleaning ends, and only then checked for links: the
    // folder and those above it cannot be swapped for a link in between.
    const kv::UniqueKernelHandle held = refusal ? kv::UniqueKernelHandle() : HoldFolder(folder);
    if (!refusal && (!held || PathCrossesLink(folder))) refusal = L"a link, behind one, or in use";
    if (refusal) {
        KV_LOG(kToConsole | kToFile, Info,
               L"CInstallJob::CleanEarlierInstall \"%s\" (launcher \"%s\") is %s: nothing stopped or deleted",
               settings_.installDir.c_str(), launcher.c_str(), refusal);
        return;
    }
    for (int round = 0; round < kMaxStopRounds && !stopRequested_; ++round) {
        // Only processes inside the folder, never a sibling such as "<dir>2".
        const DWORD pid = FindProcessInFolder(folder);
        if (pid == 0 || pid == ::GetCurrentProcessId()) break;
        kv::UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
        if (!process) break;
        if (::WaitForSingleObject(process.get(), kStopWaitMs) == WAIT_TIMEOUT) {
            KV_LOG(kToConsole | kToFile, Info, L"CInstallJob::CleanEarlierInstall terminating process %u",
                   static_cast<unsigned>(pid));
            ::TerminateProcess(process.get(), 0);
            ::WaitForSingleObject(process.get(), kStopWaitMs);
        }
    }
    DeleteDirectoryTree(folder + L"\\bin\\");
    for (const wchar_t* name : {kLauncherExeName, L"rnupdate.ini", L"uninst.exe", L"Launcher.ini"}) {
        RemoveFile(ChildPath(folder, name));
    }
}

bool CInstallJob::LaunchAndFinish() {
    installDone = true;
    while (animCounter < kAnimEnd) {
        if (stopRequested_) return false;  // the owner is gone: its animation no longer runs
        ::Sleep(kAnimPollMs);
    }
    if (stopRequested_) return false;
    const std::wstring launcher = ChildPath(settings_.installDir, kLauncherExeName);
    const std::wstring arguments = settings_.sourceId > 0 ? LauncherArguments(settings_.sourceId) : L"";
    if (settings_.noLaunch) {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallJob::LaunchAndFinish %s not started (/NOLAUNCH)", launcher.c_str());
    } else {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallJob::LaunchAndFinish %s [%s]", launcher.c_str(), arguments.c_str());
        const DWORD error = StartLauncher(launcher, arguments);
        launcherError = error;
        if (error != 0) {
            KV_LOG(kToConsole | kToFile, Warn, L"CInstallJob::LaunchAndFinish %s could not be started (%u)",
                   launcher.c_str(), static_cast<unsigned>(error));
        }
    }
    if (!settings_.keepPackage) RemoveFile(settings_.packagePath);
    RemoveFile(ChildPath(settings_.packageDir, L"kvinstall.ini"));
    return true;
}
