#include "App/InstallController.h"

#include "App/DescriptorOverride.h"
#include "App/ExitCode.h"
#include "App/InstallFolder.h"
#include "App/UnelevatedStart.h"
#include "Runtime/Log.h"
#include "CommonUtils.h"
#include "Runtime/TextUtils.h"
#include "Updater/UpdateModule.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\InstallController";
constexpr wchar_t kWindowClass[] = L"KvInstallController";
// How long the controller's end waits for an install thread that is only polling.
constexpr DWORD kInstallThreadWaitMs = 2000;
}  // namespace

CInstallController::CInstallController(IInstallView& view, UpdateModuleFactory makeModule)
    : view_(view), makeModule_(std::move(makeModule)) {
    if (!makeModule_) {
        makeModule_ = [](const std::wstring& packageDir, IGameEventListener* listener) {
            auto module = std::make_unique<CUpdateModule>(packageDir, listener);
            ApplyDescriptorUrlOverride(*module);
            return std::unique_ptr<IUpdateModule>(std::move(module));
        };
    }
}

CInstallController::~CInstallController() {
    if (install_) install_->Abandon(kInstallThreadWaitMs);
    DeleteUpdateModule();
    window_.reset();  // while every member its procedure may reach is still there
}

bool CInstallController::Initialise(int sourceId) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &CInstallController::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    window_.reset(::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this));
    if (!window_) return false;

    sourceId_ = sourceId;
    existingInstall_ = DetectExistingInstall(launcherExe_, installDir_);
    if (existingInstall_) {
        KV_LOG(kToConsole | kToFile, Info, L"CInstallController::Initialise earlier installation %s",
               launcherExe_.c_str());
        ::SetTimer(window_.get(), kTimerAskExisting, kAskPeriodMs, nullptr);
    } else {
        ApplyLocalPackage();
    }
    return true;
}

LRESULT CALLBACK CInstallController::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    auto* self = reinterpret_cast<CInstallController*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_TIMER:
            if (wParam == kTimerInstallAnim) self->OnInstallAnimTimer();
            else if (wParam == kTimerRetry) self->OnRetryTimer();
            else if (wParam == kTimerAskExisting) self->OnAskExistingTimer();
            return 0;
        case WM_PACKAGE_CORRUPT:
            self->OnPackageCorrupt();
            return 0;
        case WM_CLOSE:  // the install thread's end, never a request to destroy this window
            self->OnInstallFinished();
            return 0;
        default:
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

// ------------------------------------------------- earlier installation

void CInstallController::OnAskExistingTimer() {
    ::KillTimer(window_.get(), kTimerAskExisting);
    if (view_.AskAboutEarlierInstall() == EarlierChoice::kStartIt) {
        if (noLaunch_) {
            KV_LOG(kToConsole | kToFile, Info,
                   L"CInstallController::OnAskExistingTimer %s kept, not started (/NOLAUNCH)", launcherExe_.c_str());
            Finish(kExitInstalled);
            return;
        }
        // The number is written even when it is 0.
        const DWORD error = StartLauncher(launcherExe_, LauncherArguments(sourceId_));
        if (error == 0) {
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
    keepPackage_ = true;
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

// --------------------------------------------------------- package phase

void CInstallController::BeginPackagePhase() {
    if (packageDir_.empty()) packageDir_ = installDir_;
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
    updater_ = makeModule_(packageDir_, this);
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
    OnFailure(FormatString(L"安装失败，请检查网络后重试(%d,%d)", result.type, result.code), result);
}

void CInstallController::OnProgress(int64_t total, int64_t complete, uint64_t speed) {
    // Progress again: the next failure may be told once more, and starts a
    // new run of failures.
    failNoticeArmed_ = true;
    total_ = total;
    complete_ = complete;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnProgress %lld/%lld", static_cast<long long>(complete),
           static_cast<long long>(total));
    view_.ShowDownloadProgress(total, complete, speed);
}

void CInstallController::OnDone(const HttpResult& result, const std::wstring&) {
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnDone (%d,%d)", result.type, result.code);
    if (result.type == kHttpErrorOk && result.code == 0) {
        complete_ = total_;
        view_.ShowInstalling();
        StartInstall();
        return;
    }
    OnFailure(FormatString(L"安装失败，请检查网络后重试！(%d,%d)", result.type, result.code), result);
}

void CInstallController::OnFailure(const std::wstring& notice, const HttpResult& result) {
    lastFailure_ = result;
    ::SetTimer(window_.get(), kTimerRetry, kRetryPeriodMs, nullptr);
    KV_LOG(kToConsole | kToFile, Warn,
           L"CInstallController::OnFailure (%d,%d): retrying from the first endpoint in %u s", result.type, result.code,
           kRetryPeriodMs / 1000);
    if (failNoticeArmed_) {
        // One notice for a run of failures; the run's time counts from here.
        failingSince_ = ::GetTickCount64();
        failNoticeArmed_ = false;
        view_.ShowFailureNotice(notice);
    }
}

bool CInstallController::NetworkGivenUp() const {
    return networkTimeoutMs_ != INFINITE && ::GetTickCount64() - failingSince_ >= networkTimeoutMs_;
}

void CInstallController::OnRetryTimer() {
    if (!updater_) return;
    ::KillTimer(window_.get(), kTimerRetry);
    if (NetworkGivenUp()) {
        KV_LOG(kToConsole | kToFile, Error,
               L"CInstallController::OnRetryTimer no progress for %u s, the last failure (%d,%d): giving up",
               static_cast<unsigned>((::GetTickCount64() - failingSince_) / 1000), lastFailure_.type, lastFailure_.code);
        Finish(kExitNetworkUnreachable);
        return;
    }
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnRetryTimer fetching the descriptor again");
    // The whole cycle again from the primary endpoint; the download resumes
    // its temporary file.
    updater_->Restart();
}

void CInstallController::StartInstall() {
    InstallSettings settings;
    settings.window = window_.get();
    settings.packagePath = packageDir_ + L"\\kvinstaller.exe";
    settings.packageDir = packageDir_;
    settings.installDir = installDir_;
    settings.expectedMd5 = expectedMd5_;
    settings.expectedSha256 = expectedSha256_;
    settings.sourceId = sourceId_;
    settings.existingInstall = existingInstall_;
    settings.earlierLauncher = launcherExe_;
    settings.keepPackage = keepPackage_;
    settings.noLaunch = noLaunch_;
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::StartInstall %s into %s", settings.packagePath.c_str(),
           installDir_.c_str());
    // A job of an earlier, corrupt package has ended already; the new one
    // starts its animation from 0.
    install_ = std::make_shared<CInstallJob>(std::move(settings));
    if (view_.AnimatesInstall()) ::SetTimer(window_.get(), kTimerInstallAnim, kAnimPeriodMs, nullptr);
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
    if (counter > CInstallJob::kAnimEnd) {
        ::KillTimer(window_.get(), kTimerInstallAnim);
        return;
    }
    view_.ShowInstallAnimation(counter);
}

void CInstallController::OnPackageCorrupt() {
    ::KillTimer(window_.get(), kTimerInstallAnim);
    KV_LOG(kToConsole | kToFile, Warn, L"CInstallController::OnPackageCorrupt the package does not match its digests");
    if (!view_.AskDownloadAgain()) {
        Finish(kExitDigestMismatch);
        return;
    }
    KV_LOG(kToConsole | kToFile, Info, L"CInstallController::OnPackageCorrupt downloading the package again");
    view_.ShowDownloadRestarted();
    // A signed package beside the installer that changed since its check is
    // downloaded like any other.
    packageReady_ = false;
    DeleteUpdateModule();
    if (!StartUpdateModule()) Finish(kExitInvalidFolder);
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
    } else if (launcherError != 0) {
        Finish(kExitLauncherFailed);
    } else {
        Finish(kExitInstalled);
    }
}

void CInstallController::Stop() {
    if (window_) {
        for (UINT_PTR timer : {kTimerInstallAnim, kTimerRetry, kTimerAskExisting}) ::KillTimer(window_.get(), timer);
    }
    DeleteUpdateModule();
    // From here on the install thread posts nothing and starts nothing.
    if (install_) install_->Abandon(0);
}

void CInstallController::Finish(int exitCode) {
    if (finished_) return;
    finished_ = true;
    Stop();
    KV_LOG(kToConsole | kToFile, exitCode == kExitInstalled ? Info : Error, L"CInstallController::Finish %d (%s)",
           exitCode, ExitCodeMeaning(exitCode));
    view_.End(exitCode);
}
