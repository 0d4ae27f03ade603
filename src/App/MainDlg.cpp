#include "App/MainDlg.h"

#include "App/AppBuildConfig.h"
#include "App/AppContext.h"
#include "App/InstallFolder.h"
#include "App/MsgBoxDlg.h"
#include "App/ProxyLoginDlg.h"
#include "Http/ProxyLogin.h"
#include "App/ProgressBarImage.h"
#include "App/UnelevatedStart.h"
#include "Runtime/Log.h"
#include "App/FolderPicker.h"
#include "Runtime/Paths.h"
#include "Runtime/TextUtils.h"
#include "Ui/ButtonUI.h"
#include "Ui/DpiScale.h"
#include "Ui/EditUI.h"
#include "Ui/LabelUI.h"
#include "Ui/OptionUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/SkinPackage.h"
#include "Ui/TabLayoutUI.h"
#include "Ui/UiTexts.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\MainDlg";
constexpr wchar_t kProductFolder[] = L"KorvelQixar";
constexpr int kProductIconId = 1;  // Installer.rc
constexpr int kPageWelcome = 0;
constexpr int kPageFolder = 1;
constexpr int kPageProgress = 2;
constexpr UINT kProgressPeriodMs = 20;
}  // namespace

CMainDlg::CMainDlg(const InstallerOptions& options) : m_options(options) {}

CMainDlg::~CMainDlg() = default;

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
    FitTextRuns();

    m_controller.SetNoLaunch(m_options.noLaunch);
    m_controller.Initialise(AppContext::Instance().sourceId);
    ProposeFolder();
}

void CMainDlg::ProposeFolder() {
    if (m_options.installDir.empty()) return;
    const std::wstring folder = CInstallController::CanonicalTypedFolder(m_options.installDir);
    if (folder.empty()) {
        KV_LOG(kToConsole | kToFile, Warn, L"CMainDlg::ProposeFolder /D=%s is no full folder path: not proposed",
               m_options.installDir.c_str());
        return;
    }
    m_controller.SetInstallDir(folder);
}

namespace {
// A label's text width at 100% (the markup's unit), rounded up.
int MarkupTextWidth(const CLabelUI& label, UINT dpi) {
    return (label.TextWidth() * static_cast<int>(CDpiScale::kBaseDpi) + static_cast<int>(dpi) - 1) /
           static_cast<int>(dpi);
}

void MoveFloating(CControlUI& control, int x, int width) {
    RECT pos = control.GetFloatPos();
    pos.left = x;
    control.SetFloatPos(pos);
    control.SetFixedWidth(width);
}
}  // namespace

void CMainDlg::FitTextRuns() {
    const UINT dpi = m_PaintManager.GetDpi();
    if (m_optAgree && m_btnAgreement) {
        const int optionEnd = m_optAgree->GetFloatPos().left + m_optAgree->GetTextPadding().left +
                              MarkupTextWidth(*m_optAgree, dpi);
        MoveFloating(*m_optAgree, m_optAgree->GetFloatPos().left, optionEnd - m_optAgree->GetFloatPos().left);
        MoveFloating(*m_btnAgreement, optionEnd + 5, MarkupTextWidth(*m_btnAgreement, dpi) + 1);
    }
    const auto* free = FindControlAs<CLabelUI>(L"lb_free");
    if (free && m_lbLeftSpace) {
        MoveFloating(*m_lbLeftSpace, free->GetFloatPos().left + MarkupTextWidth(*free, dpi),
                     m_lbLeftSpace->GetMarkupWidth());
    }
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

void CMainDlg::SelectPage(int page) {
    KV_LOG(kToConsole | kToFile, Info, L"CMainDlg::SelectPage %d", page);
    if (m_tabMain) m_tabMain->SelectItem(page);
    // The bar's animation runs only while the bar can be seen.
    if (m_progress == nullptr) return;
    if (page == kPageProgress) {
        m_PaintManager.SetTimer(m_progress, kProgressTimer, kProgressPeriodMs);
    } else {
        m_PaintManager.KillTimer(m_progress, kProgressTimer);
    }
}

// ---------------------------------------------------------------- messages

LRESULT CMainDlg::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = false;
    switch (msg) {
        case WM_CLOSE:
            return OnCloseRequest(wParam, handled);
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
    m_controller.Stop();
    return 0;  // the framework goes on and destroys the window
}

void CMainDlg::OnFinalMessage(HWND hwnd) {
    // From here on the install thread posts nothing and starts nothing.
    m_controller.Stop();
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
        m_controller.SetInstallDir(m_editInput->GetText());
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
        m_controller.SettleInstallDir();
        // The earlier or default folder refused: the folder page, as for a disk failure.
        if (m_controller.FolderCrossesLink()) {
            OfferAnotherFolder(UiText(L"box.folder.link"));
            return;
        }
        SelectPage(kPageProgress);
        m_controller.BeginPackagePhase();
        return;
    }
    if (sender == m_btnFree) {
        if (!CheckAgreement()) return;
        SelectPage(kPageFolder);
        m_controller.SettleInstallDir();
        // Raises "textchanged", which copies the text back and shows the free space.
        if (m_editInput) m_editInput->SetText(m_controller.InstallDir());
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
    m_exitBox = CMsgBoxDlg::CreateOwned(hwnd_, UiText(L"box.exit.question"), L"", UiText(L"box.exit.title").c_str());
    if (m_exitBox == nullptr) return;
    m_exitBox->ShowWindow(true);
    const UINT result = m_exitBox->ShowModal();
    m_exitBox = nullptr;
    if (result == CMsgBoxDlg::kResultOk) Close(1);
}

bool CMainDlg::CheckAgreement() {
    if (m_optAgree == nullptr || m_optAgree->IsSelected()) return true;
    ShowTip(UiText(L"box.agreement.unchecked"));
    return false;
}

void CMainDlg::OnInstallFromFolderPage() {
    // No agreement and no write test on this path; a valid folder is created.
    const std::wstring typed = m_editInput ? m_editInput->GetText() : m_controller.InstallDir();
    if (m_controller.FolderCrossesLink(typed)) {
        ShowTip(UiText(L"box.folder.link"));
        return;
    }
    if (!m_controller.AcceptTypedFolder(typed)) {
        ShowTip(UiText(L"box.folder.invalid"));
        return;
    }
    SelectPage(kPageProgress);
    m_controller.BeginPackagePhase();
}

void CMainDlg::ShowTip(const std::wstring& text) { ShowMessageBox(hwnd_, UiText(L"box.tip"), text, L"", L"", true, false); }

void CMainDlg::OnSelectFolder() {
    std::wstring picked = BrowseForFolder(hwnd_, m_controller.InstallDir());
    if (picked.empty()) return;
    if (picked.back() == L'\\') picked.pop_back();
    if (picked.empty()) return;
    // The product folder is appended on every pick, to the picked folder.
    m_controller.SetInstallDir(ChildPath(picked, kProductFolder));
    if (m_editInput) m_editInput->SetText(m_controller.InstallDir());
    UpdateFreeSpace();
}

void CMainDlg::OpenAgreement() {
    // A maker with a page per language puts "{lang}" in the address.
    std::wstring url = KV_AGREEMENT_URL;
    const size_t lang = url.find(L"{lang}");
    if (lang != std::wstring::npos) url.replace(lang, 6, CUiTexts::Instance().Language());
    if (url.empty()) {
        KV_LOG(kToConsole | kToFile, Info, L"CMainDlg::OpenAgreement no agreement page in this build");
        return;
    }
    OpenWebPage(url);
}

void CMainDlg::UpdateFreeSpace() {
    const std::wstring& folder = m_controller.InstallDir();
    const InstallSpace space = QueryInstallSpace(folder);
    const bool enough = HasEnoughFreeSpace(space.freeBytes);
    // A full system drive is named as such: another folder would not help.
    if (auto* label = FindControlAs<CLabelUI>(L"lb_free")) {
        label->SetText(UiText(space.systemDrive ? L"folder.free.system" : L"folder.free"));
        FitTextRuns();
    }
    if (m_lbLeftSpace) {
        m_lbLeftSpace->SetText(FormatSize(space.freeBytes));
        m_lbLeftSpace->SetEnabled(enough);
    }
    if (m_btnInstall2) m_btnInstall2->SetEnabled(enough);
    KV_LOG(kToConsole | kToFile, Info, L"CMainDlg::UpdateFreeSpace %s: %s%s%s", folder.c_str(),
           FormatSize(space.freeBytes).c_str(), space.systemDrive ? L" on the system drive" : L"",
           enough ? L"" : L" (not enough)");
}

// ------------------------------------------------- the controller's view

EarlierChoice CMainDlg::AskAboutEarlierInstall() {
    const UINT result = ShowMessageBox(hwnd_, UiText(L"box.tip"), UiText(L"box.earlier.question"),
                                       UiText(L"box.earlier.over"), UiText(L"box.earlier.start"), false, true);
    return result == CMsgBoxDlg::kResultCancel ? EarlierChoice::kStartIt : EarlierChoice::kInstallOver;
}

void CMainDlg::InstallOverEarlier() {
    // As if the user had clicked the folder link.
    TNotifyUI click;
    click.sType = notify::kClick;
    click.pSender = m_btnFree;
    click.dwTimestamp = ::GetTickCount();
    Notify(click);
}

void CMainDlg::ShowDownloadProgress(int64_t total, int64_t complete, uint64_t speed) {
    const uint64_t left = total > complete ? static_cast<uint64_t>(total - complete) : 0;
    if (m_lbSpeed) {
        m_lbSpeed->SetText(UiText(L"progress.left", {FormatSize(left), FormatSize(speed)}));
    }
    DrawProgress(false);
}

void CMainDlg::ShowInstalling() {
    if (m_lbDownload) m_lbDownload->SetText(UiText(L"progress.installing"));
    if (m_lbSpeed) m_lbSpeed->SetText(L"90%");
    DrawProgress(false);
}

void CMainDlg::ShowInstallAnimation(int counter) {
    const int end = CInstallJob::kAnimEnd;
    const int percent = m_controller.PackageReady() ? counter * 100 / end : counter * 10 / end + 90;
    if (m_lbSpeed) m_lbSpeed->SetText(FormatString(L"%d%%", percent));
    DrawProgress(false);
}

void CMainDlg::ShowFailureNotice(const std::wstring& text) {
    // Not modal: the retries go on while the notice is on screen.
    ShowNoticeBox(hwnd_, UiText(L"box.tip"), text);
}

bool CMainDlg::OfferAnotherFolder(const std::wstring& text) {
    ShowTip(text);
    // The folder page as the folder link shows it; its install button starts
    // the package phase anew.
    SelectPage(kPageFolder);
    // Raises "textchanged", which measures the free space again.
    if (m_editInput) m_editInput->SetText(m_controller.InstallDir());
    return true;
}

bool CMainDlg::AskDownloadAgain(bool) {
    return ShowMessageBox(hwnd_, UiText(L"box.tip"), UiText(L"box.damaged.question"), UiText(L"box.damaged.again"),
                          UiText(L"box.damaged.quit"), true, true) == CMsgBoxDlg::kResultOk;
}

bool CMainDlg::AskProxyLogin() {
    std::wstring user, password;
    if (!CProxyLoginDlg::Ask(hwnd_, &user, &password)) return false;
    CProxyLogin::Instance().Set(user, password);
    if (!password.empty()) ::SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
    return true;
}

void CMainDlg::ShowDownloadRestarted() {
    if (m_lbDownload) m_lbDownload->SetText(UiText(L"progress.downloading"));
    if (m_lbSpeed) m_lbSpeed->SetText(L"");
    if (m_progress) m_progress->SetBkImage(L"file='progress_bk.png' corner='3,3,3,3'");
    m_drawnFill = -1;
}

void CMainDlg::ShowStartFromMenu() {
    ShowTip(UiText(L"box.done"));
}

void CMainDlg::End(int) {
    // The window's run always ends with 0; an open exit question is answered
    // by the close.
    Close(1);
}

// --------------------------------------------------------------- progress

void CMainDlg::DrawProgress(bool advance) {
    if (m_progress == nullptr) return;
    const RECT& rc = m_progress->GetPos();
    // The bar's description is written at 100%, like the markup; the
    // control draws it at the window's scale.
    const int width = m_PaintManager.Unscale(rc.right - rc.left);
    const int fill = ProgressFill(width, m_controller.PackageReady(), m_controller.AnimCounter(), m_controller.Total(),
                                  m_controller.Complete());
    const int flashPos = advance ? AdvanceFlash(m_flashPos, width) : m_flashPos;
    const BarSpan changed = ProgressBarChange(width, m_drawnFill, m_flashPos, fill, flashPos);
    m_progress->SetBkImageChangingColumns(ProgressBarDescription(width, fill, flashPos), changed.left, changed.right);
    m_flashPos = flashPos;
    m_drawnFill = fill;
    // The value is a percentage (what a screen reader reads), not pixels.
    m_progress->SetValue(ProgressPercent(width, fill));
}

