#pragma once
// Demo of the message box skin: a box that closes with 1 on btn_ok and 2 on
// btn_cancel or btn_close. Once created it deletes itself with its window;
// after a failed Create the caller deletes it. Main thread only.
#include <string>

#include "Ui/WindowImplBase.h"

class CDemoMessageBox : public WindowImplBase {
public:
    CDemoMessageBox(std::wstring text, std::wstring title) : text_(std::move(text)), title_(std::move(title)) {}

protected:
    const wchar_t* GetWindowClassName() const override { return L"korvelim"; }
    std::wstring GetSkinFile() override { return L"MessageBox.xml"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    LRESULT ResponseDefaultKeyEvent(WPARAM) override { return FALSE; }
    void OnFinalMessage(HWND hwnd) override;

private:
    std::wstring text_;
    std::wstring title_;
    bool created_ = false;
};
