#include "DemoMainWindow.h"

#include "App/MsgBoxDlg.h"
#include "Runtime/TextUtils.h"
#include "Ui/EditUI.h"
#include "Ui/LabelUI.h"
#include "Ui/OptionUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/TabLayoutUI.h"

CDemoMainWindow::~CDemoMainWindow() = default;

void CDemoMainWindow::InitWindow() {
    progress_ = FindControlAs<CProgressUI>(L"pro_InstallProgress");
    if (auto* edit = FindControlAs<CEditUI>(L"edit_input")) edit->SetText(L"D:\\Korvel网络\\KorvelQixar");
    if (auto* space = FindControlAs<CLabelUI>(L"lb_leftspace")) space->SetText(L"56.3GB");
    if (fixedPercent_ >= 0) percent10_ = fixedPercent_ * 10;
    ShowPage(startPage_);
    if (progress_) m_PaintManager.SetTimer(progress_, 1, 20);
}

void CDemoMainWindow::ShowPage(int page) {
    if (auto* tab = FindControlAs<CTabLayoutUI>(L"tb_main")) tab->SelectItem(page);
    if (page == 2) DrawProgress(false);
}

// The bar is one composite background description: the track, then the fill
// whose right-hand 110 pixels (at 100%) keep their drawn highlight.
void CDemoMainWindow::DrawProgress(bool advance) {
    if (progress_ == nullptr) return;
    const RECT& rc = progress_->GetPos();
    const int w = m_PaintManager.Unscale(rc.right - rc.left);  // descriptions are written at 100%
    if (advance && fixedPercent_ < 0) percent10_ = (percent10_ + 1) % 1001;
    if (advance) flashPos_ = (flashPos_ + 3) % (w + 80);
    const int fill = percent10_ * w / 1000;
    const int corner = fill < 110 ? fill : 110;
    progress_->SetBkImage(FormatString(L"file='progress_bk.png' dest='0,0,%d,30' "
                                       L"file='progress_fore.png' corner='0,10,%d,10' dest='0,0,%d,30'",
                                       w, corner, fill));
    progress_->SetValue(fill * 100 / (w > 0 ? w : 1));
    if (auto* speed = FindControlAs<CLabelUI>(L"lb_speed")) {
        const int left = (1000 - percent10_) * 120 / 1000;
        speed->SetText(FormatString(L"剩余%dMB @ 3.2MB/s  %d%%", left, percent10_ / 10));
    }
}

void CDemoMainWindow::Notify(TNotifyUI& msg) {
    if (msg.sType == notify::kTimer && msg.pSender == progress_) {
        auto* tab = FindControlAs<CTabLayoutUI>(L"tb_main");
        if (tab && tab->GetCurSel() == 2) DrawProgress(true);
        return;
    }
    if (msg.sType == notify::kClick && msg.pSender) {
        const std::wstring& name = msg.pSender->GetName();
        auto* agree = FindControlAs<COptionUI>(L"opt_agree");
        const bool agreed = agree == nullptr || agree->IsSelected();
        if ((name == L"btn_install" && agreed) || name == L"btn_install2") {
            ShowPage(2);
            return;
        }
        if (name == L"btn_free" && agreed) {
            ShowPage(1);
            return;
        }
        if (name == L"btn_close") {
            CMsgBoxDlg* box = CMsgBoxDlg::CreateOwned(GetHWND(), L"是否退出安装？", L"", L"退出安装");
            if (box && box->ShowModal() == CMsgBoxDlg::kResultOk) Close(1);
            return;
        }
    }
    WindowImplBase::Notify(msg);
}

void CDemoMainWindow::OnFinalMessage(HWND hwnd) {
    WindowImplBase::OnFinalMessage(hwnd);
    ::PostQuitMessage(0);
}
