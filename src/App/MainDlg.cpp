#include "App/MainDlg.h"

#include <shellapi.h>

#include "App/AppBuildConfig.h"
#include "App/AppContext.h"
#include "App/AppLog.h"
#include "App/DescriptorOverride.h"
#include "App/InstallFolder.h"
#include "App/MsgBoxDlg.h"
#include "App/ProgressBarImage.h"
#include "CommonUtils.h"
#include "Runtime/TextUtils.h"
#include "Ui/ButtonUI.h"
#include "Ui/EditUI.h"
#include "Ui/LabelUI.h"
#include "Ui/OptionUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/SkinPackage.h"
#include "Ui/TabLayoutUI.h"
#include "Updater/UpdateModule.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\MainDlg";
constexpr wchar_t kTipTitle[] = L"提示信息";
constexpr wchar_t kProductFolder[] = L"KorvelQixar";
constexpr int kProductIconId = 1;  // Installer.rc
constexpr int kPageWelcome = 0;
constexpr int kPageFolder = 1;
constexpr int kPageProgress = 2;
constexpr UINT kAnimPeriodMs = 100;
constexpr UINT kRetryPeriodMs = 5000;
constexpr UINT kAskPeriodMs = 100;
constexpr UINT kProgressPeriodMs = 20;
// How long the window's end waits for an install thread that is only polling.
constexpr DWORD kInstallThreadWaitMs = 2000;
}  // namespace

CMainDlg::CMainDlg() = default;

CMainDlg::~CMainDlg() {
    if (m_install) m_install->Abandon(kInstallThreadWaitMs);
}

void CMainDlg::InitWindow() {
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) {
        ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
    }
    SetProductIcon();
    m_progress = FindControlAs<CProgressUI>(L"pro_InstallProgress");
    m_lbDownload = FindControlAs<CLabelUI>(L"lb_download");
    m_lbSpeed = FindControlAs<CLabelUI>(L"lb_speed");
    m_btnClose = FindControlAs<CButtonUI>(L"btn_close");
    m_btnInstall = FindControlAs<CButtonUI>(L"btn_install");
    m_btnInstall2 = FindControlAs<CButtonUI>(L"btn_install2");
    m_btnFree = FindControlAs<CButtonUI>(L"btn_free");
    m_editInput = FindControlAs<CEditUI>(L"edit_input");
    m_btnSelect = FindControlAs<CButtonUI>(L"btn_select");
    m_lbLeftSpace = FindControlAs<CLabelUI>(L"lb_leftspace");
    m_btnAgreement = FindControlAs<CButtonUI>(L"btn_agreement");
    m_optAgree = FindControlAs<COptionUI>(L"opt_agree");
    m_tabMain = FindControlAs<CTabLayoutUI>(L"tb_main");
    if (m_progress) m_PaintManager.SetTimer(m_progress, kProgressTimer, kProgressPeriodMs);

    const uint16_t sourceId = AppContext::Instance().sourceId;
    if (sourceId != 0) m_sourceId = sourceId;

    m_existingInstall = DetectExistingInstall(m_launcherExe, m_installDir);
    if (m_existingInstall) ::SetTimer(hwnd_, kTimerAskExisting, kAskPeriodMs, nullptr);
    else ApplyLocalPackage();
}

void CMainDlg::SetProductIcon() {
    // Icon group 1 of the program's resources, in the taskbar's and the
    // title's sizes; shared icons are the system's to free.
    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    const struct { WPARAM which; int cx, cy; } kinds[] = {
        {ICON_BIG, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)},
        {ICON_SMALL, ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON)}};
    for (const auto& kind : kinds) {
        HANDLE icon = ::LoadImageW(module, MAKEINTRESOURCEW(kProductIconId), IMAGE_ICON, kind.cx, kind.cy, LR_SHARED);
        if (icon) ::SendMessageW(hwnd_, WM_SETICON, kind.which, reinterpret_cast<LPARAM>(icon));
    }
}

void CMainDlg::ApplyLocalPackage() {
    const LocalPackage local = CheckLocalPackage(GetAppDir(), kv::BuiltInDescriptorKey());
    if (!local.keepPackage) return;
    m_keepPackage = true;
    m_packageDir = local.packageDir;
    m_packageReady = local.packageReady;
    // A signed package is checked once more when it is run: the bytes that
    // run are the bytes whose signature verified.
    m_expectedSha256 = local.sha256;
}

void CMainDlg::SelectPage(int page) {
    KV_APP_LOG(Info, L"CMainDlg::SelectPage %d", page);
    if (m_tabMain) m_tabMain->SelectItem(page);
}

// ---------------------------------------------------------------- messages

LRESULT CMainDlg::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = false;
    switch (msg) {
        case WM_TIMER:
            if (wParam == kTimerInstallAnim) OnInstallAnimTimer();
            else if (wParam == kTimerRetry) OnRetryTimer();
            else if (wParam == kTimerAskExisting) {
                OnAskExistingTimer();
                // The launcher was started and the window is closing.
                handled = m_closingAfterLaunch;
            }
            break;
        case WM_CLOSE:
            return OnCloseRequest(wParam, handled);
        case WM_PACKAGE_CORRUPT:
            OnPackageCorrupt();
            break;
        case WM_SYSCOMMAND:
            // Straight to the system: SC_CLOSE is disabled in the menu and is
            // not turned into WM_CLOSE here.
            handled = true;
            return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
        default:
            break;
    }
    return 0;
}

LRESULT CMainDlg::OnCloseRequest(WPARAM, bool& handled) {
    if (m_exitBox) {
        // A close (the install thread's, say) while the exit question is open
        // answers it: the question's handler then closes this window.
        m_exitBox->Close(CMsgBoxDlg::kResultOk);
        handled = true;
        return 0;
    }
    DeleteUpdateModule();
    return 0;  // the framework goes on and destroys the window
}

void CMainDlg::OnFinalMessage(HWND hwnd) {
    // From here on the install thread posts nothing and starts nothing.
    if (m_install) m_install->Abandon(0);
    // The skin archive's buffer goes with the last skinned window of the run.
    CSkinPackage::Instance().Close();
    WindowImplBase::OnFinalMessage(hwnd);
    ::PostQuitMessage(0);
}

// ----------------------------------------------------------- notifications

void CMainDlg::Notify(TNotifyUI& msg) {
    if (msg.sType == notify::kTimer) {
        if (msg.pSender == m_progress) DrawProgress(true);
        return;
    }
    if (msg.sType == notify::kClick) {
        OnClick(msg);
        return;
    }
    if (msg.sType == notify::kTextChanged && msg.pSender == m_editInput && m_editInput) {
        m_installDir = m_editInput->GetText();
        UpdateFreeSpace();
    }
    // "selectchanged": the agreement option is read when a button is clicked.
}

void CMainDlg::OnClick(TNotifyUI& msg) {
    CControlUI* sender = msg.pSender;
    if (sender == nullptr) return;
    if (sender == m_btnClose) {
        // Never the framework's close: that would end the window at once.
        ConfirmExit();
        return;
    }
    if (sender == m_btnInstall) {
        if (!CheckAgreement()) return;
        SelectPage(kPageProgress);
        SettleInstallDir();
        if (m_packageDir.empty()) m_packageDir = m_installDir;
        BeginPackagePhase();
        return;
    }
    if (sender == m_btnFree) {
        if (!CheckAgreement()) return;
        SelectPage(kPageFolder);
        SettleInstallDir();
        // Raises "textchanged", which copies the text back and shows the free space.
        if (m_editInput) m_editInput->SetText(m_installDir);
        return;
    }
    if (sender == m_btnInstall2) {
        OnInstallFromFolderPage();
        return;
    }
    if (sender == m_btnSelect) {
        OnSelectFolder();
        return;
    }
    if (sender == m_btnAgreement) {
        OpenAgreement();
        return;
    }
    // btn_min and anything else: the framework's default reactions.
    WindowImplBase::OnClick(msg);
}

void CMainDlg::ConfirmExit() {
    if (m_exitBox) return;
    // An empty title keeps the markup's "退出安装".
    m_exitBox = CMsgBoxDlg::CreateOwned(hwnd_, L"是否退出安装？", L"", L"退出安装");
    if (m_exitBox == nullptr) return;
    m_exitBox->ShowWindow(true);
    const UINT result = m_exitBox->ShowModal();
    m_exitBox = nullptr;
    if (result == CMsgBoxDlg::kResultOk) Close(1);
}

bool CMainDlg::CheckAgreement() {
    if (m_optAgree == nullptr || m_optAgree->IsSelected()) return true;
    ShowMessageBox(hwnd_, kTipTitle, L"未勾选“同意软件许可协议”。", L"", L"", true, false);
    return false;
}

void CMainDlg::SettleInstallDir() {
    if (m_installDir.empty() || !IsPathWritable(m_installDir)) m_installDir = DefaultInstallDir();
}

void CMainDlg::OnInstallFromFolderPage() {
    if (m_editInput) m_installDir = m_editInput->GetText();
    // A valid folder is created here; no agreement and no write test on this path.
    if (m_installDir.find(L'/') != std::wstring::npos || !IsAbsoluteDrivePath(m_installDir) ||
        !EnsureDirExists(m_installDir)) {
        ShowMessageBox(hwnd_, kTipTitle, L"您选择的安装路径无效，请重新选择。", L"", L"", true, false);
        return;
    }
    if (m_packageDir.empty()) m_packageDir = m_installDir;
    SelectPage(kPageProgress);
    BeginPackagePhase();
}

void CMainDlg::OnSelectFolder() {
    std::wstring picked = BrowseForFolder(hwnd_, m_installDir);
    if (picked.empty()) return;
    if (picked.back() == L'\\') picked.pop_back();
    if (picked.empty()) return;
    // The product folder is appended on every pick, to the picked folder.
    m_installDir = picked + L"\\" + kProductFolder;
    if (m_editInput) m_editInput->SetText(m_installDir);
    UpdateFreeSpace();
}

void CMainDlg::OpenAgreement() {
    const std::wstring url = KV_AGREEMENT_URL;
    if (url.empty()) {
        KV_APP_LOG(Info, L"CMainDlg::OpenAgreement no agreement page in this build");
        return;
    }
    ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CMainDlg::UpdateFreeSpace() {
    const uint64_t freeBytes = QueryFreeSpace(m_installDir);
    const bool enough = HasEnoughFreeSpace(freeBytes);
    if (m_lbLeftSpace) {
        m_lbLeftSpace->SetText(FormatSize(freeBytes));
        m_lbLeftSpace->SetEnabled(enough);
    }
    if (m_btnInstall2) m_btnInstall2->SetEnabled(enough);
    KV_APP_LOG(Info, L"CMainDlg::UpdateFreeSpace %s: %s%s", m_installDir.c_str(), FormatSize(freeBytes).c_str(),
               enough ? L"" : L" (not enough)");
}

void CMainDlg::OnAskExistingTimer() {
    ::KillTimer(hwnd_, kTimerAskExisting);
    const UINT result = ShowMessageBox(hwnd_, kTipTitle, L"您已经安装了KorvelQixar，是否覆盖安装？", L"覆盖安装",
                                       L"直接启动", false, true);
    if (result == CMsgBoxDlg::kResultCancel) {
        // The number is written even when it is 0.
        if (StartProcess(m_launcherExe, LauncherCommandLine(m_launcherExe, m_sourceId)) == 0) {
            m_closingAfterLaunch = true;
            Close(1);
            return;
        }
        KV_APP_LOG(Warn, L"CMainDlg::OnAskExistingTimer %s could not be started", m_launcherExe.c_str());
    }
    ApplyLocalPackage();
    // As if the user had clicked the folder link.
    TNotifyUI click;
    click.sType = notify::kClick;
    click.pSender = m_btnFree;
    click.dwTimestamp = ::GetTickCount();
    Notify(click);
}

// --------------------------------------------------------------- progress

void CMainDlg::DrawProgress(bool advance) {
    if (m_progress == nullptr) return;
    const RECT& rc = m_progress->GetPos();
    // The bar's description is written at 100%, like the markup; the
    // control draws it at the window's scale.
    const int width = m_PaintManager.Unscale(rc.right - rc.left);
    const int fill = ProgressFill(width, m_packageReady, AnimCounter(), m_total, m_complete);
    if (advance) m_flashPos = AdvanceFlash(m_flashPos, width);
    m_progress->SetBkImage(ProgressBarDescription(width, fill, m_flashPos));
    // The value is a percentage (what a screen reader reads), not pixels.
    m_progress->SetValue(ProgressPercent(width, fill));
}

// ------------------------------------------------------------ package phase

void CMainDlg::BeginPackagePhase() {
    if (m_packageReady) {
        // The package lies beside the installer: no download; a digest only
        // when its signature was checked.
        OnDone(0, 0, L"");
        return;
    }
    // A package folder that can neither be found nor created ends the run silently.
    if (!StartUpdateModule()) Close(1);
}

bool CMainDlg::StartUpdateModule() {
    m_updater = std::make_unique<CUpdateModule>(m_packageDir, this);
    ApplyDescriptorUrlOverride(*m_updater);
    return m_updater->Start();
}

void CMainDlg::DeleteUpdateModule() {
    if (!m_updater) return;
    m_updater->Stop();
    m_updater.reset();
}

void CMainDlg::OnDescriptor(int errtype, int code, const std::wstring&, const std::wstring& md5) {
    KV_APP_LOG(Info, L"CMainDlg::OnDescriptor (%d,%d) md5 %s", errtype, code, md5.c_str());
    m_expectedMd5 = md5;
    m_expectedSha256 = m_updater ? m_updater->ExpectedSha256() : std::wstring();
    if (errtype == 0) return;
    ::SetTimer(hwnd_, kTimerRetry, kRetryPeriodMs, nullptr);
    if (m_failNoticeArmed) {
        ShowFailureNotice(FormatString(L"安装失败，请检查网络后重试(%d,%d)", errtype, code));
        m_failNoticeArmed = false;
    }
}

void CMainDlg::OnProgress(int64_t total, int64_t complete, uint64_t speed) {
    // Progress again: the next failure may be told once more.
    m_failNoticeArmed = true;
    m_total = total;
    m_complete = complete;
    KV_APP_LOG(Info, L"CMainDlg::OnProgress %lld/%lld", static_cast<long long>(complete), static_cast<long long>(total));
    const uint64_t left = total > complete ? static_cast<uint64_t>(total - complete) : 0;
    if (m_lbSpeed) {
        m_lbSpeed->SetText(FormatString(L"剩余%s @ %s/s", FormatSize(left).c_str(), FormatSize(speed).c_str()));
    }
    DrawProgress(false);
}

void CMainDlg::OnDone(int errtype, int code, const std::wstring&) {
    KV_APP_LOG(Info, L"CMainDlg::OnDone (%d,%d)", errtype, code);
    if (errtype == 0 && code == 0) {
        m_complete = m_total;
        if (m_lbDownload) m_lbDownload->SetText(L"安装中");
        if (m_lbSpeed) m_lbSpeed->SetText(L"90%");
        DrawProgress(false);
        StartInstall();
        return;
    }
    ::SetTimer(hwnd_, kTimerRetry, kRetryPeriodMs, nullptr);
    if (m_failNoticeArmed) {
        ShowFailureNotice(FormatString(L"安装失败，请检查网络后重试！(%d,%d)", errtype, code));
        m_failNoticeArmed = false;
    }
}

void CMainDlg::ShowFailureNotice(const std::wstring& text) {
    // Not modal: the retries go on while the notice is on screen.
    ShowNoticeBox(hwnd_, kTipTitle, text);
}

void CMainDlg::OnRetryTimer() {
    if (!m_updater) return;
    ::KillTimer(hwnd_, kTimerRetry);
    KV_APP_LOG(Info, L"CMainDlg::OnRetryTimer fetching the descriptor again");
    // The whole cycle again from the primary endpoint; the download resumes
    // its temporary file.
    m_updater->SetUrlIndex(0);
    if (m_updater->UrlCount() != 0) m_updater->FetchDescriptor();
}

void CMainDlg::StartInstall() {
    m_packagePath = m_packageDir + L"\\kvinstaller.exe";
    KV_APP_LOG(Info, L"CMainDlg::StartInstall %s into %s", m_packagePath.c_str(), m_installDir.c_str());
    InstallSettings settings;
    settings.window = hwnd_;
    settings.packagePath = m_packagePath;
    settings.packageDir = m_packageDir;
    settings.installDir = m_installDir;
    settings.expectedMd5 = m_expectedMd5;
    settings.expectedSha256 = m_expectedSha256;
    settings.sourceId = m_sourceId;
    settings.existingInstall = m_existingInstall;
    settings.keepPackage = m_keepPackage;
    // A job of an earlier, corrupt package has ended already; the new one
    // starts its animation from 0.
    m_install = std::make_shared<CInstallJob>(std::move(settings));
    ::SetTimer(hwnd_, kTimerInstallAnim, kAnimPeriodMs, nullptr);
    CInstallJob::Start(m_install);
}

void CMainDlg::OnInstallAnimTimer() {
    if (!m_install) return;
    // 3 steps a tick, slowing to 2 past half and to 1 past three quarters
    // until the package has run; then 9.
    int counter = m_install->animCounter + 3;
    if (m_install->installDone) counter += 6;
    else if (counter > 675) counter -= 2;
    else if (counter > 450) counter -= 1;
    m_install->animCounter = counter;
    if (counter > CInstallJob::kAnimEnd) {
        ::KillTimer(hwnd_, kTimerInstallAnim);
        return;
    }
    const int percent = m_packageReady ? counter * 100 / CInstallJob::kAnimEnd : counter * 10 / CInstallJob::kAnimEnd + 90;
    if (m_lbSpeed) m_lbSpeed->SetText(FormatString(L"%d%%", percent));
    DrawProgress(false);
}

void CMainDlg::OnPackageCorrupt() {
    ::KillTimer(hwnd_, kTimerInstallAnim);
    const UINT result =
        ShowMessageBox(hwnd_, kTipTitle, L"文件已损坏，请重新下载！", L"重新下载", L"退出安装", true, true);
    if (result != CMsgBoxDlg::kResultOk) {
        Close(1);
        return;
    }
    if (m_lbDownload) m_lbDownload->SetText(L"下载中");
    if (m_lbSpeed) m_lbSpeed->SetText(L"");
    if (m_progress) m_progress->SetBkImage(L"file='progress_bk.png' corner='3,3,3,3'");
    // A signed package beside the installer that changed since its check is
    // downloaded like any other.
    m_packageReady = false;
    DeleteUpdateModule();
    if (!StartUpdateModule()) Close(1);
}
