#pragma once
// The installer's skinned message box ("MessageBox.xml", class "korvelim"):
// a title, a text (the box grows to fit it), OK and an optional cancel. Always created with
// new; once its window exists the box deletes itself when the window is
// destroyed, so callers keep only the returned result. Main thread only.
#include <string>

#include "Ui/WindowImplBase.h"

class CControlUI;

class CMsgBoxDlg : public WindowImplBase {
public:
    static constexpr UINT kResultOk = 1;
    static constexpr UINT kResultCancel = 2;

    // An empty title keeps the markup's.
    CMsgBoxDlg(std::wstring text, std::wstring title) : text_(std::move(text)), title_(std::move(title)) {}

    // Creates the box as a popup owned by `owner` with the given caption and
    // centres it. On failure the box is deleted here and null is returned.
    static CMsgBoxDlg* CreateOwned(HWND owner, const std::wstring& text, const std::wstring& title,
                                   const wchar_t* caption);

    CControlUI* OkButton() const { return btnOk_; }
    CControlUI* CancelButton() const { return btnCancel_; }
    CControlUI* CloseButton() const { return btnClose_; }
    CControlUI* CancelArea() const { return cancelArea_; }

protected:
    const wchar_t* GetWindowClassName() const override { return L"korvelim"; }
    std::wstring GetSkinFile() override { return L"MessageBox.xml"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    // Enter and Escape do not close the box.
    LRESULT ResponseDefaultKeyEvent(WPARAM) override { return FALSE; }
    void OnFinalMessage(HWND hwnd) override;

private:
    ~CMsgBoxDlg() override = default;
    // Grows the box downwards until its text fits the label's width.
    void FitText();

    std::wstring text_;
    std::wstring title_;
    bool created_ = false;
    CControlUI* btnClose_ = nullptr;
    CControlUI* btnOk_ = nullptr;
    CControlUI* btnCancel_ = nullptr;
    CControlUI* lbText_ = nullptr;
    CControlUI* lbTitle_ = nullptr;
    CControlUI* cancelArea_ = nullptr;
};

// Modal question or notice owned by `owner` (caption "Qixar提示"): non-empty
// button texts replace the markup's; returns 1 for OK, 2 for cancel or close
// (2 as well when the box could not be created).
UINT ShowMessageBox(HWND owner, const std::wstring& title, const std::wstring& text, const std::wstring& okText,
                    const std::wstring& cancelText, bool showClose, bool showCancel);

// The same box shown without waiting: the markup's buttons all just close it.
void ShowNoticeBox(HWND owner, const std::wstring& title, const std::wstring& text);
