#include "App/InstallController.h"

#include <algorithm>

#include "App/DescriptorOverride.h"
#include "App/ExitCode.h"
#include "App/InstallFolder.h"
#include "App/TestTimingOverride.h"
#include "App/UnelevatedStart.h"
#include "Runtime/Log.h"
#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"
#include "Http/HttpResultCodes.h"
#include "Runtime/LiveTokens.h"
#include "Runtime/TextUtils.h"
#include "Ui/UiTexts.h"
#include "Updater/UpdateModule.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\InstallController";
// How long the controller's end waits for an install thread that is only polling.
constexpr DWORD kInstallThreadWaitMs = 2000;
constexpr uint64_t kBytesPerMb = 1024 * 1024;

// The controllers that the install thread's reports may still reach.
kv::LiveTokens<CInstallController>& Controllers() {
    static auto* controllers = new kv::LiveTokens<CInstallController>();
    return *controllers;
}

// "2026-12-07 23:15", in this computer's time zone.
std::wstring LocalDateTime(const SYSTEMTIME& utc) {
    SYSTEMTIME local = {};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    return FormatString(L"%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                        local.wMinute);
}

// A network failure's notice, naming its (type, code).
std::wstring NetworkText(const wchar_t* key, const HttpResult& result) {
    return UiText(key, {std::to_wstring(result.type), std::to_wstring(result.code)});
}

// What an unattended run that gave up after /TIMEOUT= ends with.
int GiveUpExitCode(FailureKind kind) {
    switch (kind) {
        case FailureKind::kClock: return kExitClockWrong;
        case FailureKind::kRefused: return kExitDescriptorRefused;
        case FailureKind::kSource:
        case FailureKind::kSignIn: return kExitSourceFailed;
        default: return kExitNetworkUnreachable;
    }
}
}  // namespace

CInstallController::CInstallController(IInstallView& view, UpdateModuleFactory makeModule)
    : view_(view), makeModule_(std::move(makeModule)) {
    retryTimes_.cycleMs = TestTimingOverride(L"KV_RETRY_CYCLE_MS", retryTimes_.cycleMs);
}

CInstallController::~CInstallController() {
    CancelTasks();
    Controllers().Drop(reportToken_);
    if (install_) install_->RequestStop(kInstallThreadWaitMs);
    DeleteUpdateModule();
}

void CInstallController::Initialise(int sourceId) {
    sourceId_ = sourceId;
    existingInstall_ = DetectExistingInstall(launcherExe_, installDir_);
    if (existingInstall_) {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallController::Initialise earlier installation %s",
               launcherExe_.c_str());
        Schedule(askTask_, kAskDelayMs, &CInstallController::OnAskExistingTimer);
    } else {
        ApplyLocalPackage();
    }
}

void CInstallController::Cancel(TaskId& slot) {
    CancelTask(slot);
    slot = 0;
}

void CInstallController::Schedule(TaskId& slot, UINT delayMs, void (CInstallController::*task)()) {
    CancelTask(slot);
    // Every pending task is cancelled before the controller goes.
    slot = PostDelayedTask(delayMs, [this, &slot, task] {
        slot = 0;
        (this->*task)();
    });
}

void CInstallController::CancelTasks() {
    for (TaskId* task : {&askTask_, &retryTask_, &animTask_, &diskFailureTask_, &proxyLoginTask_}) Cancel(*task);
}

void CInstallController::OnInstallReport(InstallReport report) {
    switch (report) {
        case InstallReport::kPackageCorrupt: OnPackageCorrupt(); break;
        case InstallReport::kPackageLocked: OnPackageLocked(); break;
        case InstallReport::kFinished: OnInstallFinished(); break;
    }
}

// ------------------------------------------------- earlier installation

void CInstallController::OnAskExistingTimer() {
    if (view_.AskAboutEarlierInstall() == EarlierChoice::kStartIt) {
        if (noLaunch_) {
            KV_LOG(kToConsole | kToFile, Info,
                   L"CInstallController::OnAskExistingTimer %s kept, not started (/NOLAUNCH)", launcherExe_.c_str());
            Finish(kExitInstalled);
            return;
        }
        // The number is written even when it is 0.
        const DWORD error = StartLauncher(launcherExe_, LauncherArguments(sourceId_));
        if (error == 0 || error == kNoUserToStartFor) {
            if (error != 0) TellStartFromMenu();
            Finish(kExitInstalled);
            return;
        }
        KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::OnAskExistingTimer %s could not be started (%u)",
               launcherExe_.c_str(), static_cast<unsigned>(error));
    }
    ApplyLocalPackage();
    view_.InstallOverEarlier();
}

void CInstallController::ApplyLocalPackage() {
    const LocalPackage local = CheckLocalPackage(GetAppDir(), kv::BuiltInDescriptorKey());
    if (!local.keepPackage) return;
    packageDir_ = local.packageDir;
    packageReady_ = local.packageReady;
    // A signed package is checked once more when it is run: the bytes that
    // run are the bytes whose signature verified.
    expectedSha256_ = local.sha256;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::ApplyLocalPackage package folder %s%s", packageDir_.c_str(),
           packageReady_ ? L" with the package" : L"");
}

// ---------------------------------------------------------------- folder

void CInstallController::SettleInstallDir() {
    if (installDir_.empty() || !IsPathWritable(installDir_)) installDir_ = DefaultInstallDir();
}

std::wstring CInstallController::CanonicalTypedFolder(const std::wstring& text) {
    // From here on the folder is canonical: "D:\Games\.." is "D:\".
    if (text.find(L'/') != std::wstring::npos || !IsAbsoluteDrivePath(text)) return {};
    return CanonicalPath(text);
}

bool CInstallController::AcceptTypedFolder(const std::wstring& text) {
    const std::wstring canonical = CanonicalTypedFolder(text);
    // A valid folder is created here.
    if (canonical.empty() || !EnsureDirExists(canonical)) {
        KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::AcceptTypedFolder \"%s\" refused", text.c_str());
        return false;
    }
    installDir_ = canonical;
    return true;
}

bool CInstallController::FolderCrossesLink(const std::wstring& text) const {
    const std::wstring folder = text.empty() ? CanonicalPath(installDir_) : CanonicalTypedFolder(text);
    if (folder.empty() || !PathCrossesLink(folder)) return false;
    KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::FolderCrossesLink %s: refused",
           folder.c_str());
    return true;
}

// --------------------------------------------------------- package phase

void CInstallController::BeginPackagePhase() {
    // Checked again once held: a folder on the way swapped for a link after
    // it was chosen would send the package's files elsewhere.
    heldInstallDir_.reset();
    movingSince_ = 0;
    if (EnsureDirExists(installDir_)) heldInstallDir_ = HoldFolder(installDir_);
    if (!heldInstallDir_ || FolderCrossesLink()) {
        KV_LOG(kToConsole | kToFile, Error, L"CInstallController::BeginPackagePhase %s not held", installDir_.c_str());
        Finish(kExitInvalidFolder);
        return;
    }
    // The package is downloaded into and run from a folder only
    // administrators can write; only a checked package beside the installer
    // runs where it lies (a download never goes beside the installer, whose
    // folder anyone may be able to write).
    if (!staging_.Prepare(stagingParent_)) {
        Finish(kExitInvalidFolder);
        return;
    }
    if (!packageReady_) packageDir_ = staging_.Path();
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::BeginPackagePhase into %s, package folder %s",
           installDir_.c_str(), packageDir_.c_str());
    if (packageReady_) {
        // The package lies beside the installer: no download; a digest only
        // when its signature was checked.
        OnDone(HttpResult{}, L"");
        return;
    }
    // A package folder that can neither be found nor created ends the run.
    if (!StartUpdateModule()) Finish(kExitInvalidFolder);
}

bool CInstallController::StartUpdateModule() {
    slowWindowStart_ = 0;  // a new download is watched afresh
    if (makeModule_) {
        updater_ = makeModule_(packageDir_, this);
    } else {
        // The real module, with the descriptor endpoints of the environment
        // (test and demo builds).
        auto module = std::make_unique<CUpdateModule>(packageDir_, this);
        ApplyDescriptorUrlOverride(*module);
        updater_ = std::move(module);
    }
    if (updater_) updater_->SetOnlySource(onlySource_);
    return updater_ && updater_->Start();
}

void CInstallController::DeleteUpdateModule() {
    if (!updater_) return;
    updater_->Stop();
    updater_.reset();
}

void CInstallController::OnDescriptor(const HttpResult& result, const std::wstring&, const std::wstring& md5) {
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnDescriptor (%d,%d) md5 %s", result.type, result.code,
           md5.c_str());
    expectedMd5_ = md5;
    expectedSha256_ = updater_ ? updater_->ExpectedSha256() : std::wstring();
    if (result.type == kHttpErrorOk) return;
    OnFailure(result, NetworkText(L"failure.network", result), RetryStep::kCycle);
}

void CInstallController::OnProgress(int64_t total, int64_t complete, uint64_t speed) {
    // Bytes arrived since the last report: the next failure may be told once
    // more, and starts a new run of failures. An answer's headers alone (the
    // bytes already on disk reported again) are no progress.
    if (complete > complete_) EndFailureRun();
    total_ = total;
    complete_ = complete;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnProgress %lld/%lld", static_cast<long long>(complete),
           static_cast<long long>(total));
    view_.ShowDownloadProgress(total, complete, speed);
    WatchSlowDownload(total, complete);
}

void CInstallController::WatchSlowDownload(int64_t total, int64_t complete) {
    // A source that drips just fast enough never fails, and would keep an
    // unattended run (and the one-instance name) alive for ever.
    if (networkTimeoutMs_ == INFINITE || finished_) return;
    const ULONGLONG now = ::GetTickCount64();
    // A restarted download opens a new window but keeps its time: a source
    // that drips and drops the connection now and then is no better.
    if (slowWindowStart_ == 0 || complete < slowWindowBytes_) {
        slowWindowStart_ = now;
        if (movingSince_ == 0) movingSince_ = now;
        slowWindowBytes_ = complete;
        return;
    }
    const ULONGLONG elapsed = now - slowWindowStart_;
    if (elapsed < retryTimes_.slowWindowMs) return;
    // At least 1% of the size per window, pro rata.
    const double gained = static_cast<double>(complete - slowWindowBytes_);
    if (gained * 100.0 * retryTimes_.slowWindowMs >= static_cast<double>(total) * static_cast<double>(elapsed)) {
        movingSince_ = now;
    }
    slowWindowStart_ = now;
    slowWindowBytes_ = complete;
    if (now - movingSince_ <= networkTimeoutMs_) return;  // /TIMEOUT=0 too: a good window goes on
    KV_LOG(kToConsole | kToFile, Error, L"CInstallController::WatchSlowDownload %lld/%lld: under 1%%/min for %u s",
           static_cast<long long>(complete), static_cast<long long>(total),
           static_cast<unsigned>((now - movingSince_) / 1000));
    // Once the module's report has returned: finishing deletes the module.
    Schedule(retryTask_, 0, &CInstallController::EndSlowDownload);
}

void CInstallController::EndSlowDownload() { Finish(kExitNetworkUnreachable); }

void CInstallController::OnDone(const HttpResult& result, const std::wstring&) {
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnDone (%d,%d)", result.type, result.code);
    if (result.type == kHttpErrorOk && result.code == 0) {
        complete_ = total_;
        view_.ShowInstalling();
        StartInstall();
        return;
    }
    // An address taken alone that fails there (a 4xx, an answer that is not
    // the package) would be retried for ever with the others idle: it is
    // dropped like one whose bytes fail, and the next one is taken alone.
    if (!onlySource_.empty() && Classify(result) == FailureKind::kSource) {
        DropSource(onlySource_, L"its own download fails");
        onlySource_ = FirstSourceLeft();
        if (onlySource_.empty() && !view_.RetriesForEver()) {
            Finish(kExitDigestMismatch);  // every address has failed alone
            return;
        }
        if (onlySource_.empty()) droppedSources_.clear();  // a window run starts over with all of them
        if (updater_) updater_->SetOnlySource(onlySource_);
    }
    OnFailure(result, NetworkText(L"failure.network.package", result), RetryStep::kCycle);
}

void CInstallController::EndFailureRun() {
    failing_ = false;
    toldKind_ = FailureKind::kNone;
    lockedSince_ = 0;
}

void CInstallController::OnFailure(const HttpResult& result, const std::wstring& networkNotice, RetryStep step) {
    const FailureKind kind = Classify(result);
    const wchar_t* kindName = FailureKindName(kind);
    lastFailure_ = result;
    if (!failing_) {
        // The run's time (for /TIMEOUT=) counts from its first failure.
        failing_ = true;
        failingSince_ = ::GetTickCount64();
    }
    if (kind == FailureKind::kDisk) {
        // Never retried: waiting mends no full or read-only disk.
        KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::OnFailure (%d,%d) %s: not retried", result.type,
               result.code, kindName);
        // Acted on once the update module's report has returned, since
        // acting deletes the module.
        Cancel(retryTask_);
        Schedule(diskFailureTask_, 0, &CInstallController::OnDiskFailure);
        return;
    }
    if (kind == FailureKind::kLocked && RetryLocked(result, step)) return;
    if (kind == FailureKind::kProxyAuth && (!view_.RetriesForEver() || !proxyLoginAsked_)) {
        // Acted on once the update module's report has returned: asking
        // runs a modal loop, and an unattended run ends here.
        proxyLoginNotice_ = NoticeText(kind, networkNotice);
        Cancel(retryTask_);
        Schedule(proxyLoginTask_, 0, &CInstallController::OnProxyLoginWanted);
        return;
    }
    Retry(step, retryTimes_.cycleMs);
    KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::OnFailure (%d,%d) %s: %s in %u s", result.type, result.code,
           kindName, step == RetryStep::kCycle ? L"retrying from the first endpoint" : L"opening the package again",
           retryTimes_.cycleMs / 1000);
    // One notice for a run of failures, and one more whenever its kind changes.
    if (kind != toldKind_) {
        toldKind_ = kind;
        view_.ShowFailureNotice(NoticeText(kind, networkNotice));
    }
}

// A file held by another program: tried again quietly, each wait twice the
// last, until the give-up has passed since the run's first lock. False once
// it has (and the window run is told and goes on with the cycle).
bool CInstallController::RetryLocked(const HttpResult& result, RetryStep step) {
    const ULONGLONG now = ::GetTickCount64();
    if (lockedSince_ == 0) {
        lockedSince_ = now;
        lockedWaitMs_ = retryTimes_.lockedFirstWaitMs;
    }
    const ULONGLONG held = now - lockedSince_;
    if (held < retryTimes_.lockedGiveUpMs) {
        // The last wait ends at the give-up itself, not past it.
        const UINT wait = static_cast<UINT>(std::min<ULONGLONG>(lockedWaitMs_, retryTimes_.lockedGiveUpMs - held));
        lockedWaitMs_ *= 2;
        Retry(step, wait);
        KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnFailure (%d,%d) locked: trying again in %u ms",
               result.type, result.code, wait);
        return true;
    }
    if (view_.RetriesForEver()) return false;
    KV_LOG(kToConsole | kToFile, Error, L"CInstallController::OnFailure (%d,%d) locked for %u s: giving up: %s",
           result.type, result.code, static_cast<unsigned>(held / 1000),
           NoticeText(FailureKind::kLocked, L"").c_str());
    Finish(kExitFileLocked);
    return true;
}

// The proxy was not satisfied by the logged-on user's credentials (nor by a
// user name and password already given). An unattended run has nobody to ask
// and ends; the window asks once per run and tries again at once with what
// was typed, or, cancelled, tells the failure and retries as for a network
// failure.
void CInstallController::OnProxyLoginWanted() {
    if (finished_) return;
    if (!view_.RetriesForEver()) {
        KV_LOG(kToConsole | kToFile, Error, L"CInstallController::OnProxyLoginWanted (%d,%d): no login for the proxy",
               lastFailure_.type, lastFailure_.code);
        Finish(kExitProxyLogin);
        return;
    }
    proxyLoginAsked_ = true;
    if (view_.AskProxyLogin()) {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnProxyLoginWanted login given: trying again");
        Retry(RetryStep::kCycle, 0);
        return;
    }
    KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::OnProxyLoginWanted no login given: retrying in %u s",
           retryTimes_.cycleMs / 1000);
    Retry(RetryStep::kCycle, retryTimes_.cycleMs);
    toldKind_ = FailureKind::kProxyAuth;
    view_.ShowFailureNotice(proxyLoginNotice_);
}

void CInstallController::Retry(RetryStep step, UINT delayMs) {
    retryStep_ = step;
    Schedule(retryTask_, delayMs, &CInstallController::OnRetryTimer);
}

std::wstring CInstallController::NoticeText(FailureKind kind, const std::wstring& networkNotice) const {
    switch (kind) {
        case FailureKind::kSource: return UiText(L"failure.source");
        case FailureKind::kSignIn: return UiText(L"failure.signin");
        case FailureKind::kClock: return ClockText();
        case FailureKind::kRefused: return UiText(L"failure.refused");
        case FailureKind::kLocked: return UiText(L"failure.locked");
        default: return networkNotice;
    }
}

std::wstring CInstallController::ClockText() const {
    SYSTEMTIME pc = {};
    ::GetSystemTime(&pc);
    // The server's Date, seconds since 1970 UTC, as FILETIME's 100 ns since 1601.
    const int64_t serverSeconds = updater_ ? updater_->ServerTime() : -1;
    std::wstring server = UiText(L"failure.clock.unknown");
    if (serverSeconds >= 0) {
        const uint64_t units = (static_cast<uint64_t>(serverSeconds) + 11644473600ull) * 10000000ull;
        const FILETIME file = {static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
        SYSTEMTIME serverUtc = {};
        if (::FileTimeToSystemTime(&file, &serverUtc)) server = LocalDateTime(serverUtc);
    }
    return UiText(L"failure.clock", {LocalDateTime(pc), server});
}

void CInstallController::OnDiskFailure() {
    if (finished_) return;
    const uint64_t needed = updater_ ? updater_->BytesStillNeeded() : 0;
    // The staging folder is on the system drive: no other installation
    // folder can help there, and the text says so.
    std::wstring text = UiText(packageDir_ == staging_.Path() ? L"failure.disk.system" : L"failure.disk", {packageDir_});
    // Rounded up: freeing the amount shown is enough.
    const auto neededMb = static_cast<unsigned long long>((needed + kBytesPerMb - 1) / kBytesPerMb);
    if (needed != 0) text += UiText(L"failure.disk.needed", {std::to_wstring(neededMb)});
    // The partial file stays for the next package phase to resume.
    Cancel(retryTask_);
    DeleteUpdateModule();
    EndFailureRun();
    if (view_.OfferAnotherFolder(text)) {
        KV_LOG(kToConsole | kToFile, Info,
               L"CInstallController::OnDiskFailure %s (%llu MB more needed): back to the folder page",
               packageDir_.c_str(), neededMb);
        return;
    }
    KV_LOG(kToConsole | kToFile, Error, L"CInstallController::OnDiskFailure %s", text.c_str());
    Finish(kExitNoDiskSpace);
}

bool CInstallController::NetworkGivenUp() const {
    return networkTimeoutMs_ != INFINITE && ::GetTickCount64() - failingSince_ >= networkTimeoutMs_;
}

void CInstallController::OnRetryTimer() {
    // A held file has its own give-up.
    const FailureKind kind = Classify(lastFailure_);
    if (kind != FailureKind::kLocked && NetworkGivenUp()) {
        KV_LOG(kToConsole | kToFile, Error,
               L"CInstallController::OnRetryTimer no progress for %u s, the last failure (%d,%d): giving up (%s)",
               static_cast<unsigned>((::GetTickCount64() - failingSince_) / 1000), lastFailure_.type, lastFailure_.code,
               FailureKindName(kind));
        Finish(GiveUpExitCode(kind));
        return;
    }
    if (retryStep_ == RetryStep::kInstall) {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnRetryTimer opening the package again");
        StartInstall();
        return;
    }
    if (!updater_) return;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnRetryTimer fetching the descriptor again");
    // The whole cycle again from the primary endpoint; the download resumes
    // its temporary file.
    updater_->Restart();
}

void CInstallController::StartInstall() {
    InstallSettings settings;
    Controllers().Drop(reportToken_);
    reportToken_ = Controllers().Issue(this);
    settings.report = [token = reportToken_](InstallReport report) {
        if (CInstallController* self = Controllers().Find(token)) self->OnInstallReport(report);
    };
    settings.packagePath = ChildPath(packageDir_, L"kvinstaller.exe");
    settings.packageDir = packageDir_;
    settings.workDir = staging_.Path();
    settings.installDir = installDir_;
    settings.expectedMd5 = expectedMd5_;
    settings.expectedSha256 = expectedSha256_;
    settings.sourceId = sourceId_;
    settings.existingInstall = existingInstall_;
    settings.earlierLauncher = launcherExe_;
    settings.keepPackage = packageDir_ != staging_.Path();  // the package beside the installer stays
    settings.noLaunch = noLaunch_;
    settings.packageTimeoutMs = packageTimeoutMs_;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::StartInstall %s into %s", settings.packagePath.c_str(),
           installDir_.c_str());
    // A job of an earlier, corrupt package has ended already; the new one
    // starts its animation from 0.
    install_ = std::make_shared<CInstallJob>(std::move(settings));
    if (view_.AnimatesInstall()) Schedule(animTask_, animPeriodMs_, &CInstallController::OnInstallAnimTimer);
    else install_->animCounter = CInstallJob::kAnimEnd;  // nothing to wait for
    if (!CInstallJob::Start(install_)) Finish(kExitPackageFailed);
}

void CInstallController::OnInstallAnimTimer() {
    if (!install_) return;
    // 3 steps a tick, slowing to 2 past half and to 1 past three quarters
    // until the package has run; then 9.
    int counter = install_->animCounter + 3;
    if (install_->installDone) counter += 6;
    else if (counter > 675) counter -= 2;
    else if (counter > 450) counter -= 1;
    install_->animCounter = counter;
    if (counter > CInstallJob::kAnimEnd) return;
    Schedule(animTask_, animPeriodMs_, &CInstallController::OnInstallAnimTimer);
    view_.ShowInstallAnimation(counter);
}

// After a digest mismatch: which address the next download takes alone.
// Bytes from several addresses blame none of them, so the main Url alone is
// tried without a question; an address whose own bytes failed is dropped for
// the run. False ends the run.
bool CInstallController::IsDropped(const std::wstring& url) const {
    return std::find(droppedSources_.begin(), droppedSources_.end(), url) != droppedSources_.end();
}

std::wstring CInstallController::FirstSourceLeft() const {
    const std::vector<std::wstring> sources = updater_ ? updater_->PackageSources() : std::vector<std::wstring>();
    const auto left = std::find_if(sources.begin(), sources.end(), [&](const std::wstring& s) { return !IsDropped(s); });
    return left == sources.end() ? std::wstring() : *left;
}

void CInstallController::DropSource(const std::wstring& url, const wchar_t* why) {
    if (url.empty() || IsDropped(url)) return;
    droppedSources_.push_back(url);
    KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::DropSource %s dropped: %s", url.c_str(), why);
}

bool CInstallController::ChooseNextSource() {
    const std::vector<std::wstring> used = updater_ ? updater_->SourcesUsed() : std::vector<std::wstring>();
    if (onlySource_.empty() && used.size() > 1) {
        KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::ChooseNextSource the bytes came from %u addresses",
               static_cast<unsigned>(used.size()));
        onlySource_ = FirstSourceLeft();
        if (!onlySource_.empty()) return true;
    }
    DropSource(!onlySource_.empty() ? onlySource_ : used.empty() ? std::wstring() : used.front(),
               L"its own bytes fail the digests");
    const std::wstring next = FirstSourceLeft();
    // A package that never came from the network (the one beside the
    // installer) leaves every address to try.
    if (!view_.AskDownloadAgain(!next.empty() || !updater_)) return false;
    onlySource_ = next;
    // Asked again with no address left: the user starts over with all of them.
    if (next.empty()) droppedSources_.clear();
    return true;
}

void CInstallController::OnPackageCorrupt() {
    Cancel(animTask_);
    KV_LOG(kToConsole | kToFile, Warn,
           L"CInstallController::OnPackageCorrupt (%d,%d) %s: the package does not match its digests",
           kDigestMismatch.type, kDigestMismatch.code, FailureKindName(Classify(kDigestMismatch)));
    if (!ChooseNextSource()) {
        Finish(kExitDigestMismatch);
        return;
    }
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnPackageCorrupt downloading the package again%s%s",
           onlySource_.empty() ? L"" : L" from ", onlySource_.c_str());
    view_.ShowDownloadRestarted();
    // A signed package beside the installer that changed since its check is
    // downloaded like any other.
    packageReady_ = false;
    packageDir_ = staging_.Path();
    DeleteUpdateModule();
    if (!StartUpdateModule()) Finish(kExitInvalidFolder);
}

void CInstallController::OnPackageLocked() {
    Cancel(animTask_);
    // The locked kind has its own notice.
    OnFailure(kFileLocked, L"", RetryStep::kInstall);
}

void CInstallController::OnInstallFinished() {
    if (!install_) return;
    const DWORD runError = install_->packageRunError, exitCode = install_->packageExitCode;
    const DWORD launcherError = install_->launcherError;
    if (runError != 0 || exitCode != 0) {
        KV_LOG(kToConsole | kToFile, Error,
               L"CInstallController::OnInstallFinished the package failed: start error %u, exit code %u",
               static_cast<unsigned>(runError), static_cast<unsigned>(exitCode));
        Finish(kExitPackageFailed);
    } else if (launcherError == kNoUserToStartFor) {
        TellStartFromMenu();
        Finish(kExitInstalled);
    } else if (launcherError != 0) {
        Finish(kExitLauncherFailed);
    } else {
        Finish(kExitInstalled);
    }
}

void CInstallController::TellStartFromMenu() {
    // Running as SYSTEM with nobody logged on, or elevated with no process of
    // the user to start it under: the installer's own rights are not given
    // away (StartForUser has logged it).
    view_.ShowStartFromMenu();
}

void CInstallController::Stop() {
    CancelTasks();
    heldInstallDir_.reset();
    staging_.Release();
    DeleteUpdateModule();
    // From here on the install thread starts nothing, and what it reports finds nobody.
    Controllers().Drop(reportToken_);
    if (install_) install_->RequestStop(0);
}

void CInstallController::Finish(int exitCode) {
    if (finished_) return;
    finished_ = true;
    Stop();
    KV_LOG(kToConsole | kToFile, exitCode == kExitInstalled ? Info : Error, L"CInstallController::Finish %d (%s)",
           exitCode, ExitCodeMeaning(exitCode));
    view_.End(exitCode);
}
