#pragma once
// The skinned login box for a proxy that asks for a user name and password
// ("ProxyLogin.xml", class "korvelproxylogin", the message box's look): two
// boxes, 确定 and 取消. Tab moves between them, Enter on a box or 确定 gives
// the login, Escape, 取消 and the close button give none. Always created
// with new; the box deletes itself when its window is destroyed. Main
// thread only.
#include <string>

#include "Ui/WindowImplBase.h"

class CControlUI;

class CProxyLoginDlg : public WindowImplBase {
public:
    static constexpr UINT kResultOk = 1;
    static constexpr UINT kResultCancel = 2;

    // Asks modally, owned by `owner`; true with what was typed after 确定.
    static bool Ask(HWND owner, std::wstring* user, std::wstring* password);

protected:
    const wchar_t* GetWindowClassName() const override { return L"korvelproxylogin"; }
    std::wstring GetSkinFile() override { return L"ProxyLogin.xml"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    LRESULT ResponseDefaultKeyEvent(WPARAM key) override;
    void OnFinalMessage(HWND hwnd) override;

private:
    CProxyLoginDlg(std::wstring* user, std::wstring* password) : user_(user), password_(password) {}
    ~CProxyLoginDlg() override = default;
    void Accept();

    std::wstring* user_;
    std::wstring* password_;
    bool created_ = false;
    CControlUI* editUser_ = nullptr;
    CControlUI* editPassword_ = nullptr;
    CControlUI* btnOk_ = nullptr;
    CControlUI* btnCancel_ = nullptr;
    CControlUI* btnClose_ = nullptr;
};
