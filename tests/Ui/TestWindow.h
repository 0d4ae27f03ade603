#pragma once
// A skinned window for the UI tests: records the notifications it gets, its
// close and final messages, and whether its owner was enabled when it was
// hidden on its way out (a modal box must give the owner back first).
// WM_APP makes it destroy itself directly. A window still there when its
// object goes is destroyed with it, so a test that stops at a failed
// assertion leaves none behind. SkinnedWindow is the fixture of the tests
// that drive such windows. Main thread only.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Ui/ControlUI.h"
#include "Ui/WindowImplBase.h"
#include "Ui/WndShadow.h"

class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(std::wstring skin) : skin_(std::move(skin)) {}
    // A window a failed assertion left open goes with its object, so that
    // later tests never reach a window bound to a dead object.
    ~TestWindow() override {
        if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
    }
    HWND CreatePopup(HWND owner = nullptr) {
        return Create(owner, L"ui test", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0);
    }
    // Creates the popup and shows it; false when it could not be created.
    bool Open(HWND owner = nullptr) {
        if (!CreatePopup(owner)) return false;
        ShowWindow(true);
        return true;
    }
    int Count(const std::wstring& type, const std::wstring& sender) const {
        int n = 0;
        for (const auto& e : events) n += e.first == type && e.second == sender;
        return n;
    }
    std::vector<std::pair<std::wstring, std::wstring>> events;
    int closeMessages = 0;
    bool ownerEnabledWhenHidden = false;
    int finalMessages = 0;

protected:
    const wchar_t* GetWindowClassName() const override { return L"KvUiTestWindow"; }
    std::wstring GetSkinFile() override { return skin_; }
    void Notify(TNotifyUI& msg) override {
        events.emplace_back(msg.sType, msg.pSender ? msg.pSender->GetName() : L"");
        WindowImplBase::Notify(msg);
    }
    void OnFinalMessage(HWND hwnd) override {
        ++finalMessages;
        WindowImplBase::OnFinalMessage(hwnd);
    }
    LRESULT HandleCustomMessage(UINT msg, WPARAM, LPARAM lParam, bool& handled) override {
        handled = false;
        if (msg == WM_CLOSE) ++closeMessages;
        if (msg == WM_WINDOWPOSCHANGED && (reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW)) {
            const HWND owner = ::GetWindow(hwnd_, GW_OWNER);
            ownerEnabledWhenHidden = owner && ::IsWindowEnabled(owner);
        }
        if (msg == WM_APP) {
            handled = true;
            ::DestroyWindow(hwnd_);
        }
        return 0;
    }

private:
    std::wstring skin_;
};


class SkinnedWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CWndShadow::Initialize(::GetModuleHandleW(nullptr)); }

    static LPARAM At(int x, int y) { return MAKELPARAM(x, y); }
    static void Click(HWND hwnd, int x, int y) {
        ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
        ::SendMessageW(hwnd, WM_LBUTTONUP, 0, At(x, y));
    }
};
