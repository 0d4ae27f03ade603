#pragma once
// The installation itself, whoever presents it: the earlier installation and
// the package beside the installer, the installation folder, the package
// phase (update module reports, what each kind of failure leads to: a notice,
// a retry, the folder page or the run's end; the digest check and download
// again, the hand-off to the install thread) and the run's outcome. Its
// timers are delayed dispatcher tasks and the install thread reports through
// the dispatcher, so it runs the same with the installer window as its view
// or with none. Main thread only.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "App/InstallJob.h"
#include "App/InstallView.h"
#include "App/StagingFolder.h"
#include "App/TestTimingOverride.h"
#include "Http/FailureKind.h"
#include "Runtime/MainThreadTask.h"
#include "Runtime/RetryPolicy.h"
#include "Updater/GameEventListener.h"
#include "Updater/UpdateModuleInterface.h"

class CInstallController : public IGameEventListener {
public:
    static constexpr UINT kAnimPeriodMs = 100;
    static constexpr UINT kAskDelayMs = 100;

    // How long the retries wait (Runtime/RetryPolicy.h); tests shorten them.
    struct RetryTimes {
        UINT cycleMs = kv::retry::kCycleDelayMs;
        UINT lockedFirstWaitMs = kv::retry::kLockedFirstWaitMs;
        UINT lockedGiveUpMs = kv::retry::kLockedGiveUpMs;
        // A download gaining less than 1% of its size in this long is hardly moving.
        UINT slowWindowMs = 60000;
    };

    // `makeModule` makes the update module of each package phase (the real
    // CUpdateModule, with the descriptor endpoints of the environment, when
    // empty; tests pass a fake).
    explicit CInstallController(IInstallView& view, UpdateModuleFactory makeModule = {});
    ~CInstallController();
    CInstallController(const CInstallController&) = delete;
    CInstallController& operator=(const CInstallController&) = delete;

    // Looks for an earlier installation (and asks the view about it 100 ms
    // later) or else a package beside the installer.
    void Initialise(int sourceId);
    // /NOLAUNCH: the launcher is not started at the end.
    void SetNoLaunch(bool noLaunch) { noLaunch_ = noLaunch; }
    // Unattended runs: the longest run of failures without progress before
    // the run ends with the exit code of the last failure's kind (3, 9, 10
    // or 12). INFINITE (the default) retries for ever.
    void SetNetworkTimeout(DWORD ms) { networkTimeoutMs_ = ms; }
    // Unattended runs: how long the package may run before it is ended (7).
    void SetPackageTimeout(DWORD ms) { packageTimeoutMs_ = ms; }
    void SetRetryTimes(const RetryTimes& times) { retryTimes_ = times; }
    bool FoundEarlierInstall() const { return existingInstall_; }
    // Tests: the folder that holds the staging folder (default: the common
    // application data folder).
    void SetStagingParent(const std::wstring& parent) { stagingParent_ = parent; }

    // The installation folder.
    const std::wstring& InstallDir() const { return installDir_; }
    void SetInstallDir(const std::wstring& dir) { installDir_ = dir; }
    // An empty or unwritable folder becomes the default folder ("" when no
    // drive qualifies).
    void SettleInstallDir();
    // The folder page's rules for a typed folder: no "/", a full path with its
    // drive; the canonical folder, or "" when the text is refused.
    static std::wstring CanonicalTypedFolder(const std::wstring& text);
    // Applies those rules and creates the folder; true when it is now the
    // installation folder.
    bool AcceptTypedFolder(const std::wstring& text);
    // Whether the folder (a typed text, or the chosen folder when empty) is a
    // junction, symbolic link or mount point, or lies behind one: refused
    // wherever it was chosen (logged).
    bool FolderCrossesLink(const std::wstring& text = L"") const;

    // Downloads the package (or takes the one beside the installer) and hands
    // it off; the package folder is the staging folder (CStagingFolder) unless
    // a checked package lies beside the installer, and the package runs there. Again after a disk failure sent the view back
    // to the folder page: a new module, resuming the partial file kept.
    void BeginPackagePhase();
    // The run is over: stops everything, logs the outcome and tells the view.
    void Finish(int exitCode);
    // The view is going: the module is stopped and deleted, the timers
    // stopped, the install thread stopped and its reports dropped. Finish
    // does this too.
    void Stop();

    // What the view draws.
    bool PackageReady() const { return packageReady_; }
    int64_t Total() const { return total_; }
    int64_t Complete() const { return complete_; }
    int AnimCounter() const { return install_ ? install_->animCounter.load() : 0; }

    // IGameEventListener: the update module's reports.
    void OnProgress(int64_t total, int64_t complete, uint64_t speed) override;
    void OnDone(const HttpResult& result, const std::wstring& message) override;
    void OnDescriptor(const HttpResult& result, const std::wstring& version, const std::wstring& md5) override;

private:
    void OnAskExistingTimer();
    void ApplyLocalPackage();
    bool StartUpdateModule();
    void DeleteUpdateModule();
    // What a retry repeats: the update module's cycle, or the install
    // thread's start (its open of the package).
    enum class RetryStep { kCycle, kInstall };
    // `networkNotice` is told for the network kind; the other kinds have
    // texts of their own.
    void OnFailure(const HttpResult& result, const std::wstring& networkNotice, RetryStep step);
    bool RetryLocked(const HttpResult& result, RetryStep step);
    void Retry(RetryStep step, UINT delayMs);
    std::wstring NoticeText(FailureKind kind, const std::wstring& networkNotice) const;
    std::wstring ClockText() const;
    void OnDiskFailure();
    void OnProxyLoginWanted();
    void OnRetryTimer();
    bool NetworkGivenUp() const;
    void EndFailureRun();
    // Ends an unattended run whose download has hardly moved for the network time-out.
    void WatchSlowDownload(int64_t total, int64_t complete);
    void EndSlowDownload();
    void StartInstall();
    void OnInstallAnimTimer();
    void OnPackageCorrupt();
    bool ChooseNextSource();
    bool IsDropped(const std::wstring& url) const;
    // The first package address not dropped, "" when none is left.
    std::wstring FirstSourceLeft() const;
    // Drops `url` for the run (once), naming it and `why` in the log.
    void DropSource(const std::wstring& url, const wchar_t* why);
    void OnPackageLocked();
    void OnInstallFinished();
    void TellStartFromMenu();
    void OnInstallReport(InstallReport report);
    // Replaces the pending task in `slot` (if any) with `task` in `delayMs`.
    void Schedule(TaskId& slot, UINT delayMs, void (CInstallController::*task)());
    void Cancel(TaskId& slot);
    void CancelTasks();

    IInstallView& view_;
    // The pending delayed tasks (0: none).
    TaskId askTask_ = 0;
    TaskId retryTask_ = 0;
    TaskId animTask_ = 0;
    TaskId diskFailureTask_ = 0;
    TaskId proxyLoginTask_ = 0;
    bool proxyLoginAsked_ = false;  // the window asks once per run
    std::wstring proxyLoginNotice_;
    // Stands for this controller in the install thread's reports until it
    // stops; a report that comes later finds nothing.
    uintptr_t reportToken_ = 0;
    std::wstring installDir_;
    // Held from the package phase to the end, so that no folder on its way
    // can be swapped for a link meanwhile.
    kv::UniqueKernelHandle heldInstallDir_;
    std::wstring launcherExe_;
    std::wstring packageDir_;
    std::wstring stagingParent_;
    CStagingFolder staging_;  // held from the package phase to the end
    int sourceId_ = 0;
    int64_t total_ = 0;
    int64_t complete_ = 0;
    // The run of failures since the last progress: its start, the kind last
    // told (kNone: nothing told yet) and the first lock's tick (0: none).
    bool failing_ = false;
    ULONGLONG failingSince_ = 0;
    FailureKind toldKind_ = FailureKind::kNone;
    ULONGLONG lockedSince_ = 0;
    // The current window of WatchSlowDownload (its start, 0: none, and the
    // bytes then) and when the download last moved well.
    ULONGLONG slowWindowStart_ = 0;
    int64_t slowWindowBytes_ = 0;
    ULONGLONG movingSince_ = 0;
    UINT lockedWaitMs_ = 0;  // the next quiet wait after a lock
    HttpResult lastFailure_;
    RetryStep retryStep_ = RetryStep::kCycle;
    RetryTimes retryTimes_;
    const UINT animPeriodMs_ = TestTimingOverride(L"KV_INSTALL_ANIM_MS", kAnimPeriodMs);
    DWORD networkTimeoutMs_ = INFINITE;
    DWORD packageTimeoutMs_ = INFINITE;
    bool noLaunch_ = false;
    bool existingInstall_ = false;
    bool packageReady_ = false;
    // After digest mismatches: the address the next download takes alone
    // ("" every address) and the addresses whose own bytes failed.
    std::wstring onlySource_;
    std::vector<std::wstring> droppedSources_;
    bool finished_ = false;
    std::wstring expectedMd5_;
    std::wstring expectedSha256_;  // the descriptor's optional Sha256, or the signed local package's
    UpdateModuleFactory makeModule_;
    std::unique_ptr<IUpdateModule> updater_;
    // Shared with the install thread: the animation counter, the "package
    // process ended" flag and the hand-off's outcome.
    std::shared_ptr<CInstallJob> install_;
};
