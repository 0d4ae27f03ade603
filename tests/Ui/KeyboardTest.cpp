#include <gtest/gtest.h>

#include "Ui/ButtonUI.h"
#include "Ui/EditUI.h"
#include "Ui/OptionUI.h"
#include "Ui/TabLayoutUI.h"
#include "TestWindow.h"

namespace {

// Holds Shift down for the thread's key state (GetKeyState) while alive.
class ShiftDown {
public:
    ShiftDown() { SetShift(true); }
    ~ShiftDown() { SetShift(false); }

private:
    static void SetShift(bool down) {
        BYTE keys[256] = {};
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = down ? 0x80 : 0;
        ::SetKeyboardState(keys);
    }
};

std::wstring FocusName(TestWindow& w) {
    CControlUI* focus = w.GetPaintManager().GetFocus();
    return focus ? focus->GetName() : L"(none)";
}

// Presses Tab `count` times and returns the names focused in turn.
std::vector<std::wstring> Tabs(TestWindow& w, int count) {
    std::vector<std::wstring> names;
    for (int i = 0; i < count; ++i) {
        HWND target = ::GetFocus() && ::GetParent(::GetFocus()) == w.GetHWND() ? ::GetFocus() : w.GetHWND();
        ::SendMessageW(target, WM_KEYDOWN, VK_TAB, 0x000F0001);
        names.push_back(FocusName(w));
    }
    return names;
}

using Names = std::vector<std::wstring>;

// The installer's skin shown, with a control of its first page focused by Tab.
class Keyboard : public SkinnedWindow {
protected:
    bool OpenWithTabFocus(TestWindow& w, int tabs) {
        if (!w.Open()) return false;
        Tabs(w, tabs);
        return true;
    }
    // The install button, focused by Tab and held down by Space; null when
    // it is not pressed.
    CButtonUI* HoldSpaceOnInstall(TestWindow& w) {
        if (!OpenWithTabFocus(w, 1)) return nullptr;
        auto* install = w.FindControlAs<CButtonUI>(L"btn_install");
        ::SendMessageW(w, WM_KEYDOWN, VK_SPACE, 0x00390001);
        return install && install->IsPushed() ? install : nullptr;
    }
};

}  // namespace

// Tab walks the shown, enabled buttons, options and the edit field of the
// current page and then the caption buttons, in markup order, and wraps;
// Shift+Tab walks back. Both skins.
TEST_F(Keyboard, TabOrderThroughBothSkins) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    EXPECT_EQ(Tabs(w, 7), (Names{L"btn_install", L"opt_agree", L"btn_agreement", L"btn_free", L"btn_min",
                                  L"btn_close", L"btn_install"}));
    EXPECT_TRUE(w.GetPaintManager().IsKeyboardFocus());
    {
        ShiftDown shift;
        EXPECT_EQ(Tabs(w, 2), (Names{L"btn_close", L"btn_min"}));
    }
    auto* tab = w.FindControlAs<CTabLayoutUI>(L"tb_main");
    tab->SelectItem(1);
    EXPECT_EQ(FocusName(w), L"(none)");  // a page change drops the focus
    // The edit field takes part: Tab opens it with its text selected, and
    // Tab inside the native box moves on.
    EXPECT_EQ(Tabs(w, 6), (Names{L"edit_input", L"btn_select", L"btn_install2", L"btn_min", L"btn_close",
                                  L"edit_input"}));
    auto* edit = w.FindControlAs<CEditUI>(L"edit_input");
    EXPECT_TRUE(edit->IsEditing());
    EXPECT_EQ(::GetFocus(), edit->GetNativeWindow());
    EXPECT_EQ(Tabs(w, 1), (Names{L"btn_select"}));
    EXPECT_FALSE(edit->IsEditing());
    // Disabled and hidden controls are skipped.
    w.FindControl(L"btn_install2")->SetEnabled(false);
    w.FindControl(L"btn_min")->SetVisible(false);
    EXPECT_EQ(Tabs(w, 2), (Names{L"btn_close", L"edit_input"}));
    tab->SelectItem(2);
    w.FindControl(L"btn_min")->SetVisible(true);
    EXPECT_EQ(Tabs(w, 3), (Names{L"btn_min", L"btn_close", L"btn_min"}));
    ::DestroyWindow(w);  // one keyboard-focused window at a time

    TestWindow box(L"MessageBox.xml");
    ASSERT_TRUE(box.Open());
    EXPECT_EQ(Tabs(box, 4), (Names{L"btn_close", L"btn_ok", L"btn_cancel", L"btn_close"}));
}

// Space presses on key-down and activates once on key-up; holding it (the
// key's auto-repeat) does nothing more. Enter activates a control focused by
// Tab; with the focus from a click, Enter keeps the default (nothing here)
// and Escape still closes.
TEST_F(Keyboard, SpaceOnKeyUpWithoutRepeatAndEnterOnTabFocus) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(OpenWithTabFocus(w, 2));
    auto* agree = w.FindControlAs<COptionUI>(L"opt_agree");
    ASSERT_EQ(FocusName(w), L"opt_agree");
    ASSERT_TRUE(agree->IsSelected());
    ::SendMessageW(w, WM_KEYDOWN, VK_SPACE, 0x00390001);
    EXPECT_TRUE(agree->IsPushed());
    EXPECT_TRUE(agree->IsSelected());  // not yet
    for (int i = 0; i < 5; ++i) ::SendMessageW(w, WM_KEYDOWN, VK_SPACE, 0x40390001);  // held
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 0);
    ::SendMessageW(w, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_FALSE(agree->IsPushed());
    EXPECT_FALSE(agree->IsSelected());
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 1);
    // A key-up without its press (the press went to another window) does nothing.
    ::SendMessageW(w, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 1);

    ::SendMessageW(w, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    EXPECT_TRUE(agree->IsSelected());
    ::SendMessageW(w, WM_KEYDOWN, VK_RETURN, 0x401C0001);  // repeat
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 2);

    // Focus from the mouse: no mark, and Enter is not taken.
    ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(41, 335));
    ::SendMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(41, 335));
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 3);
    EXPECT_FALSE(w.GetPaintManager().IsKeyboardFocus());
    ::SendMessageW(w, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 3);
    // Escape keeps closing the window with 1.
    ::PostMessageW(w, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    EXPECT_EQ(w.ShowModal(), 1u);
}

// A Tab that moves on while Space is held leaves no button pressed.
TEST_F(Keyboard, TabWhileSpaceIsHeldReleasesThePress) {
    TestWindow w(L"InstallPackages.xml");
    CButtonUI* install = HoldSpaceOnInstall(w);
    ASSERT_NE(install, nullptr);
    Tabs(w, 1);
    EXPECT_FALSE(install->IsPushed());
    ::SendMessageW(w, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_EQ(w.Count(L"click", L"btn_install"), 0);
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 0);
}

// Regression: Space held on a button while another window takes the keyboard
// left the button drawn pressed; its key-up never comes back here.
TEST_F(Keyboard, LosingTheKeyboardWhileSpaceIsHeldReleasesThePress) {
    TestWindow w(L"InstallPackages.xml");
    CButtonUI* install = HoldSpaceOnInstall(w);
    ASSERT_NE(install, nullptr);
    ::SendMessageW(w, WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(install->IsPushed());
    EXPECT_EQ(FocusName(w), L"btn_install");  // the focus itself stays
    ::SendMessageW(w, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_EQ(w.Count(L"click", L"btn_install"), 0);
}
