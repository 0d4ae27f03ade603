#include "App/ProxyLoginDlg.h"

#include "Runtime/Log.h"
#include "Ui/ControlUI.h"
#include "Ui/UiTexts.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\ProxyLoginDlg";
}  // namespace

bool CProxyLoginDlg::Ask(HWND owner, std::wstring* user, std::wstring* password) {
    auto* box = new CProxyLoginDlg(user, password);
    if (box->Create(owner, UiText(L"proxy.title").c_str(), WS_POPUP, 0) == nullptr) {
        // Never reached InitWindow: the final message leaves it to us.
        delete box;
        return false;
    }
    box->CenterWindow();
    box->ShowWindow(true);
    // The box is gone once the modal run returns; what it gave is in *user and *password.
    return box->ShowModal() == kResultOk;
}

void CProxyLoginDlg::InitWindow() {
    created_ = true;
    editUser_ = FindControl(L"edit_user");
    editPassword_ = FindControl(L"edit_password");
    btnOk_ = FindControl(L"btn_ok");
    btnCancel_ = FindControl(L"btn_cancel");
    btnClose_ = FindControl(L"btn_close");
}

void CProxyLoginDlg::Notify(TNotifyUI& msg) {
    if (msg.sType == notify::kWindowInit) {
        // Typing starts in the user name; a screen reader announces the box.
        if (editUser_) m_PaintManager.SetFocus(editUser_);
        m_PaintManager.GetAccessibleEvents().Alert();
        return;
    }
    // Enter or Escape while typing in a box: as anywhere else in the box.
    if (msg.sType == notify::kEditKey) {
        ResponseDefaultKeyEvent(msg.wParam);
        return;
    }
    if (msg.sType != notify::kClick || msg.pSender == nullptr) return;
    if (msg.pSender == btnOk_) Accept();
    else if (msg.pSender == btnCancel_ || msg.pSender == btnClose_) Close(kResultCancel);
}

// Enter gives the login from anywhere in the box, a text box included;
// Escape gives none.
LRESULT CProxyLoginDlg::ResponseDefaultKeyEvent(WPARAM key) {
    if (key == VK_RETURN) {
        Accept();
        return TRUE;
    }
    if (key == VK_ESCAPE) {
        Close(kResultCancel);
        return TRUE;
    }
    return FALSE;
}

void CProxyLoginDlg::Accept() {
    if (editUser_) *user_ = editUser_->GetText();
    if (editPassword_) *password_ = editPassword_->GetText();
    KV_LOG(kToConsole | kToFile, Info, L"CProxyLoginDlg login given for user [%s]", user_->c_str());
    Close(kResultOk);
}

void CProxyLoginDlg::OnFinalMessage(HWND hwnd) {
    WindowImplBase::OnFinalMessage(hwnd);
    if (created_) delete this;
}
