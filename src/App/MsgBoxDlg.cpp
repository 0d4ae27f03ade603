#include "App/MsgBoxDlg.h"

#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Ui/ControlUI.h"
#include "Ui/RenderEngine.h"
#include "Ui/UiTexts.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\MsgBoxDlg";
}

CMsgBoxDlg* CMsgBoxDlg::CreateOwned(HWND owner, const std::wstring& text, const std::wstring& title,
                                    const wchar_t* caption) {
    auto* box = new CMsgBoxDlg(text, title);
    if (box->Create(owner, caption, WS_POPUP, 0) == nullptr) {
        // A window whose creation failed never reaches InitWindow, so its
        // final message leaves the object to us.
        delete box;
        return nullptr;
    }
    box->FitText();
    box->CenterWindow();
    return box;
}

// The markup leaves room for two lines; a longer text (a folder path, two
// dates) makes the box taller instead of being cut off.
void CMsgBoxDlg::FitText() {
    if (!lbText_ || text_.empty()) return;
    m_PaintManager.LayoutIfNeeded();
    const RECT label = lbText_->GetPos();
    const int width = label.right - label.left;
    if (width <= 0) return;
    const kv::UniqueScreenDc dc(::GetDC(nullptr));
    if (!dc) return;
    // Measured as the label draws it: its own line breaks, its font's height.
    const HGDIOBJ old = ::SelectObject(dc.get(), m_PaintManager.GetFont(-1));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    const int lines = static_cast<int>(CRenderEngine::WrapText(dc.get(), text_, width).size());
    ::SelectObject(dc.get(), old);
    const int grow = lines * metrics.tmHeight - (label.bottom - label.top);
    if (grow <= 0) return;
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + grow,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMsgBoxDlg::InitWindow() {
    created_ = true;
    btnClose_ = FindControl(L"btn_close");
    btnOk_ = FindControl(L"btn_ok");
    btnCancel_ = FindControl(L"btn_cancel");
    lbText_ = FindControl(L"lb_text");
    lbTitle_ = FindControl(L"lb_title");
    cancelArea_ = FindControl(L"hlt_btn_0");
    if (lbText_) lbText_->SetText(text_);
    if (lbTitle_ && !title_.empty()) lbTitle_->SetText(title_);
    KV_LOG(kToConsole | kToFile, Info, L"CMsgBoxDlg::InitWindow [%s] %s", lbTitle_ ? lbTitle_->GetText().c_str() : L"",
           text_.c_str());
}

void CMsgBoxDlg::Notify(TNotifyUI& msg) {
    // Painted for the first time, with its text and buttons settled: a
    // screen reader announces the box.
    if (msg.sType == notify::kWindowInit) {
        m_PaintManager.GetAccessibleEvents().Alert();
        return;
    }
    if (msg.sType != notify::kClick || msg.pSender == nullptr) return;
    if (msg.pSender == btnCancel_ || msg.pSender == btnClose_) Close(kResultCancel);
    else if (msg.pSender == btnOk_) Close(kResultOk);
}

void CMsgBoxDlg::OnFinalMessage(HWND hwnd) {
    WindowImplBase::OnFinalMessage(hwnd);
    if (created_) delete this;
}

UINT ShowMessageBox(HWND owner, const std::wstring& title, const std::wstring& text, const std::wstring& okText,
                    const std::wstring& cancelText, bool showClose, bool showCancel) {
    CMsgBoxDlg* box = CMsgBoxDlg::CreateOwned(owner, text, title, UiText(L"box.caption").c_str());
    if (box == nullptr) return CMsgBoxDlg::kResultCancel;
    box->ShowWindow(true);
    if (!okText.empty() && box->OkButton()) box->OkButton()->SetText(okText);
    if (!cancelText.empty() && box->CancelButton()) box->CancelButton()->SetText(cancelText);
    if (box->CloseButton()) box->CloseButton()->SetVisible(showClose);
    if (box->CancelArea()) box->CancelArea()->SetVisible(showCancel);
    // The box is gone once the modal run returns.
    return box->ShowModal();
}

void ShowNoticeBox(HWND owner, const std::wstring& title, const std::wstring& text) {
    CMsgBoxDlg* box = CMsgBoxDlg::CreateOwned(owner, text, title, UiText(L"box.caption").c_str());
    if (box) box->ShowWindow(true);
}
