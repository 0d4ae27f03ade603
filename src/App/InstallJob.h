#pragma once
// The hand-off of a downloaded package, run on its own thread: digest check,
// stopping an earlier launcher, the silent package run, the launcher start
// and the clean-up. The package is held open, unwritable to others, from the
// digest check to the end of its process. The job is shared (shared_ptr) by
// its owner and the thread, so it outlives whichever ends first; the thread
// reaches the owner only through reports posted to the main thread.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "Runtime/Handles.h"

// What the install thread reports, once, at its end.
enum class InstallReport {
    kPackageCorrupt,  // the package is unreadable or its digest differs
    kPackageLocked,   // another program holds it (a scanner, say): the step may be tried again
    kFinished,        // the package ran; the outcome is in the job
};

struct InstallSettings {
    // Runs on the main thread (a dispatcher task) with the thread's report.
    std::function<void(InstallReport)> report;
    std::wstring packagePath;     // <packageDir>\kvinstaller.exe
    std::wstring packageDir;
    std::wstring workDir;         // the package's current directory (the staging folder)
    std::wstring installDir;
    std::wstring expectedMd5;     // empty: no digest check
    std::wstring expectedSha256;  // empty: no SHA-256 check
    int sourceId = 0;
    bool existingInstall = false;
    std::wstring earlierLauncher;  // the earlier installation's KorvelLauncher.exe, when found
    bool keepPackage = false;
    bool noLaunch = false;         // the launcher is not started at the end
    DWORD packageTimeoutMs = INFINITE;  // the package's process is ended after this long
};

class CInstallJob {
public:
    // Install-animation counter: 0..900, written by the window's timer.
    static constexpr int kAnimEnd = 900;

    // The package, installation and earlier launcher paths are used in their
    // canonical form (CanonicalPath) from here on.
    explicit CInstallJob(InstallSettings settings);
    CInstallJob(const CInstallJob&) = delete;
    CInstallJob& operator=(const CInstallJob&) = delete;

    // Starts the thread, which holds its own reference to the job.
    static bool Start(const std::shared_ptr<CInstallJob>& job);

    // Main thread: the owner is going. The thread stops waiting, starts
    // nothing more and reports nothing; waits up to `waitMs` for it.
    void RequestStop(DWORD waitMs);

    std::atomic<int> animCounter{0};
    std::atomic<bool> installDone{false};

    // The hand-off's outcome, complete when kFinished is reported.
    std::atomic<DWORD> packageRunError{0};    // 0, the system error of a failed start, or WAIT_TIMEOUT
    std::atomic<DWORD> packageExitCode{0};    // the package process's exit code
    std::atomic<DWORD> launcherError{0};      // 0, or why the launcher did not start

private:
    static unsigned __stdcall ThreadEntry(void* param);
    void InstallThreadProc();
    // Null on failure, with the system error in `error`.
    kv::UniqueKernelHandle OpenPackage(DWORD& error) const;
    bool PackageMatches(HANDLE package) const;
    void RunPackage(kv::UniqueKernelHandle package);
    void CleanEarlierInstall();
    // False when a stop request cut it short.
    bool LaunchAndFinish();
    void Report(InstallReport report);

    const InstallSettings settings_;
    std::atomic<bool> stopRequested_{false};
    kv::UniqueKernelHandle thread_;  // kept only so RequestStop can wait for the end
};

// `<package> /S "/unpack=<installDir>" /launch=off`; the folder without a
// trailing "\" (but at a drive root) and quoted so that it stays one argument.
std::wstring PackageCommandLine(const std::wstring& packagePath, const std::wstring& installDir);
// `-i "<sourceId>" -d`
std::wstring LauncherArguments(int sourceId);
// `<launcher> -i "<sourceId>" -d`
std::wstring LauncherCommandLine(const std::wstring& launcherPath, int sourceId);
