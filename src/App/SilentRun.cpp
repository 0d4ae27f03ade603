#include "App/SilentRun.h"

#include "App/ExitCode.h"
#include "App/InstallFolder.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\SilentRun";
}  // namespace

CSilentRun::CSilentRun(const InstallerOptions& options) : options_(options) {}

void CSilentRun::Start(int sourceId) {
    controller_.SetNoLaunch(options_.noLaunch);
    controller_.SetNetworkTimeout(options_.timeoutSeconds * 1000);
    controller_.SetPackageTimeout(options_.packageTimeoutSeconds * 1000);
    controller_.Initialise(sourceId);
    // With an earlier installation the controller asks first (100 ms later).
    if (!controller_.FoundEarlierInstall()) BeginInstall();
}

EarlierChoice CSilentRun::AskAboutEarlierInstall() {
    const EarlierChoice choice = options_.keep ? EarlierChoice::kStartIt : EarlierChoice::kInstallOver;
    KV_LOG(kToConsole | kToFile, Info, L"CSilentRun::AskAboutEarlierInstall %s",
           options_.keep ? L"start it (/KEEP)" : L"install over it");
    return choice;
}

void CSilentRun::InstallOverEarlier() {
    // With /KEEP this is reached only when the launcher did not start.
    if (options_.keep) {
        controller_.Finish(kExitLauncherFailed);
        return;
    }
    BeginInstall();
}

void CSilentRun::BeginInstall() {
    // /D= follows the folder page's rules; without it the folder is chosen
    // as the install button chooses it (the earlier installation's, else the
    // default one).
    const std::wstring& typed = options_.installDir;
    std::wstring folder = typed.empty() ? std::wstring() : CInstallController::CanonicalTypedFolder(typed);
    if (typed.empty()) {
        controller_.SettleInstallDir();
        folder = controller_.InstallDir();
    }
    if (!folder.empty() && controller_.FolderCrossesLink(folder)) folder.clear();
    if (folder.empty()) {
        KV_LOG(kToConsole | kToFile, Error, L"CSilentRun::BeginInstall no usable installation folder (/D=%s)",
               typed.c_str());
        controller_.Finish(kExitInvalidFolder);
        return;
    }
    const InstallSpace space = QueryInstallSpace(folder);
    KV_LOG(kToConsole | kToFile, Info, L"CSilentRun::BeginInstall %s: %s free%s", folder.c_str(),
           FormatSize(space.freeBytes).c_str(), space.systemDrive ? L" on the system drive" : L"");
    if (!HasEnoughFreeSpace(space.freeBytes)) {
        controller_.Finish(kExitNoDiskSpace);
        return;
    }
    if (!typed.empty() && !controller_.AcceptTypedFolder(typed)) {
        controller_.Finish(kExitInvalidFolder);
        return;
    }
    controller_.BeginPackagePhase();
}

void CSilentRun::ShowFailureNotice(const std::wstring& text) {
    KV_LOG(kToConsole | kToFile, Warn, L"CSilentRun::ShowFailureNotice %s (retrying for up to %u s without progress)",
           text.c_str(), options_.timeoutSeconds);
}

void CSilentRun::End(int exitCode) { ::PostQuitMessage(exitCode); }
