#include "DemoMessageBox.h"

#include "Ui/ControlUI.h"

void CDemoMessageBox::InitWindow() {
    created_ = true;
    if (CControlUI* text = FindControl(L"lb_text")) text->SetText(text_);
    if (CControlUI* title = FindControl(L"lb_title"); title && !title_.empty()) title->SetText(title_);
}

void CDemoMessageBox::Notify(TNotifyUI& msg) {
    if (msg.sType != notify::kClick || msg.pSender == nullptr) return;
    const std::wstring& name = msg.pSender->GetName();
    if (name == L"btn_cancel" || name == L"btn_close") Close(2);
    else if (name == L"btn_ok") Close(1);
}

void CDemoMessageBox::OnFinalMessage(HWND hwnd) {
    WindowImplBase::OnFinalMessage(hwnd);
    // A window whose creation failed is destroyed at once and still gets its
    // final message; that box stays the caller's to delete.
    if (created_) delete this;
}
