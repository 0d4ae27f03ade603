#include <gtest/gtest.h>

#include "Ui/ButtonUI.h"
#include "Ui/EditUI.h"
#include "Ui/OptionUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/TabLayoutUI.h"
#include "Ui/WindowImplBase.h"
#include "Ui/WndShadow.h"
#include "TestWindow.h"
#include "UiTestSupport.h"
#include "support/MessagePump.h"

TEST_F(SkinnedWindow, TakesItsSizeFromTheMarkupAndRoundsItsCorners) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    RECT rc{};
    ::GetWindowRect(w, &rc);
    EXPECT_EQ(rc.right - rc.left, 540);
    EXPECT_EQ(rc.bottom - rc.top, 355);
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    EXPECT_NE(::GetWindowRgn(w, rgn), ERROR);
    RECT box{};
    ::GetRgnBox(rgn, &box);
    EXPECT_EQ(box.right, 540);
    ::DeleteObject(rgn);
    EXPECT_EQ(::GetWindowLongPtrW(w, GWL_STYLE) & WS_CAPTION, 0);

    MINMAXINFO info{};
    ::SendMessageW(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), &mi);
    EXPECT_EQ(info.ptMaxTrackSize.x, mi.rcWork.right - mi.rcWork.left);
    EXPECT_EQ(info.ptMaxTrackSize.y, mi.rcWork.bottom - mi.rcWork.top);
    EXPECT_EQ(info.ptMinTrackSize.x, 540);
    EXPECT_EQ(info.ptMinTrackSize.y, 355);
}

TEST_F(SkinnedWindow, HitTestDragsByLayoutsLabelsAndProgressButNotByInputs) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    EXPECT_EQ(w.HitTestClient({100, 50}), HTCAPTION);   // hero image layout
    EXPECT_EQ(w.HitTestClient({300, 99}), HTCAPTION);
    EXPECT_EQ(w.HitTestClient({300, 100}), HTCLIENT);   // below the caption
    EXPECT_EQ(w.HitTestClient({495, 15}), HTCLIENT);    // btn_min
    EXPECT_EQ(w.HitTestClient({525, 15}), HTCLIENT);    // btn_close
    EXPECT_EQ(w.HitTestClient({470, 15}), HTCAPTION);   // beside them
    ::DestroyWindow(w);

    ScopedSkinPackage package(ZipEntries{{"hit.xml",
                                "<Window size='300,200' caption='0,0,0,100'><VerticalLayout>"
                                "<Label name='l' float='true' pos='0,0,0,0' width='100' height='20' text='x'/>"
                                "<Progress name='p' float='true' pos='0,30,0,0' width='100' height='20'/>"
                                "<Option name='o' float='true' pos='0,60,0,0' width='40' height='20'/>"
                                "<Edit name='e' float='true' pos='50,60,0,0' width='40' height='20'/>"
                                "<Button name='b' float='true' pos='150,0,0,0' width='40' height='40'/>"
                                "</VerticalLayout></Window>"}});
    ASSERT_TRUE(package.ok());
    TestWindow h(L"hit.xml");
    ASSERT_NE(h.CreatePopup(), nullptr);
    EXPECT_EQ(h.HitTestClient({10, 10}), HTCAPTION);
    EXPECT_EQ(h.HitTestClient({10, 40}), HTCAPTION);
    EXPECT_EQ(h.HitTestClient({10, 70}), HTCLIENT);
    EXPECT_EQ(h.HitTestClient({60, 70}), HTCLIENT);
    EXPECT_EQ(h.HitTestClient({160, 10}), HTCLIENT);
    EXPECT_EQ(h.HitTestClient({250, 10}), HTCAPTION);
    EXPECT_EQ(h.HitTestClient({10, 150}), HTCLIENT);
}

TEST_F(SkinnedWindow, OptionWithoutGroupTogglesAndReportsBothWays) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    auto* agree = w.FindControlAs<COptionUI>(L"opt_agree");
    ASSERT_NE(agree, nullptr);
    ASSERT_TRUE(agree->IsSelected());
    Click(w, 41, 335);
    EXPECT_FALSE(agree->IsSelected());
    Click(w, 41, 335);
    EXPECT_TRUE(agree->IsSelected());
    EXPECT_EQ(w.Count(L"selectchanged", L"opt_agree"), 2);
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 2);
    // Released outside the control: no click.
    ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, At(41, 335));
    ::SendMessageW(w, WM_LBUTTONUP, 0, At(200, 200));
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 2);
    EXPECT_TRUE(agree->IsSelected());
}

TEST_F(SkinnedWindow, FocusMovesBetweenControlsWithNotifications) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    Click(w, 269, 259);  // btn_install
    EXPECT_EQ(w.Count(L"setfocus", L"btn_install"), 1);
    EXPECT_EQ(w.Count(L"click", L"btn_install"), 1);
    Click(w, 41, 335);  // opt_agree takes the focus over
    EXPECT_EQ(w.Count(L"killfocus", L"btn_install"), 1);
    EXPECT_EQ(w.Count(L"setfocus", L"opt_agree"), 1);
    EXPECT_EQ(w.GetPaintManager().GetFocus(), w.FindControl(L"opt_agree"));
    // Space activates the focused control like a click, on its release.
    ::SendMessageW(w, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageW(w, WM_KEYUP, VK_SPACE, 0xC0000001);
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 2);
}

TEST_F(SkinnedWindow, OptionGroupSelectsOneAtATime) {
    ScopedSkinPackage package(ZipEntries{{"group.xml",
                                "<Window size='200,100'><HorizontalLayout>"
                                "<Option name='a' group='g' selected='true'/><Option name='b' group='g'/>"
                                "</HorizontalLayout></Window>"}});
    TestWindow w(L"group.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    auto* a = w.FindControlAs<COptionUI>(L"a");
    auto* b = w.FindControlAs<COptionUI>(L"b");
    Click(w, 150, 50);
    EXPECT_FALSE(a->IsSelected());
    EXPECT_TRUE(b->IsSelected());
    Click(w, 150, 50);  // a click always selects
    EXPECT_TRUE(b->IsSelected());
    EXPECT_EQ(w.Count(L"selectchanged", L"b"), 1);
    EXPECT_EQ(w.Count(L"selectchanged", L"a"), 0);
}

TEST_F(SkinnedWindow, EditReportsTextSetByCodeAndTypingInTheNativeBox) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(1);
    auto* edit = w.FindControlAs<CEditUI>(L"edit_input");
    ASSERT_NE(edit, nullptr);
    edit->SetText(L"D:\\Korvel网络\\KorvelQixar");
    // Every set from code is reported, also one that repeats the text (the
    // installer refreshes the free-space label from this notification).
    edit->SetText(L"D:\\Korvel网络\\KorvelQixar");
    EXPECT_EQ(w.Count(L"textchanged", L"edit_input"), 2);
    EXPECT_FALSE(edit->IsEditing());

    Click(w, 100, 294);
    ASSERT_TRUE(edit->IsEditing());
    HWND native = edit->GetNativeWindow();
    ASSERT_NE(native, nullptr);
    EXPECT_TRUE(::IsWindowVisible(native));
    EXPECT_EQ(::GetFocus(), native);
    ::SendMessageW(native, EM_SETSEL, 100, 100);
    ::SendMessageW(native, WM_CHAR, L'2', 0);
    EXPECT_EQ(edit->GetText(), L"D:\\Korvel网络\\KorvelQixar2");
    EXPECT_EQ(w.Count(L"textchanged", L"edit_input"), 3);

    // Leaving the box keeps the typed text and hides the native window.
    Click(w, 300, 200);
    EXPECT_FALSE(edit->IsEditing());
    EXPECT_FALSE(::IsWindowVisible(native));
    EXPECT_EQ(edit->GetText(), L"D:\\Korvel网络\\KorvelQixar2");

    // The native box dies with the window while open: the control forgets
    // its handle (a later destructor must not reach a reused one) and keeps
    // what was typed.
    Click(w, 100, 294);
    ASSERT_TRUE(edit->IsEditing());
    ::SendMessageW(edit->GetNativeWindow(), EM_SETSEL, 100, 100);
    ::SendMessageW(edit->GetNativeWindow(), WM_CHAR, L'3', 0);
    ::DestroyWindow(w);
    EXPECT_EQ(edit->GetNativeWindow(), nullptr);
    EXPECT_FALSE(edit->IsEditing());
    EXPECT_EQ(edit->GetText(), L"D:\\Korvel网络\\KorvelQixar23");
}

// A button that is disabled under the mouse, or whose press loses the mouse
// capture, must not keep its hover or pressed look.
TEST_F(SkinnedWindow, DisablingOrLosingTheCaptureClearsHoverAndPress) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    auto* install = w.FindControlAs<CButtonUI>(L"btn_install");
    ASSERT_NE(install, nullptr);
    ::SendMessageW(w, WM_MOUSEMOVE, 0, At(269, 259));
    ASSERT_TRUE(install->IsHot());
    install->SetEnabled(false);
    EXPECT_FALSE(install->IsHot());
    install->SetEnabled(true);
    EXPECT_FALSE(install->IsHot());  // until the mouse enters again

    ::SendMessageW(w, WM_MOUSEMOVE, 0, At(270, 259));
    ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, At(270, 259));
    ASSERT_TRUE(install->IsPushed());
    ::SendMessageW(w, WM_CAPTURECHANGED, 0, 0);  // another window took the mouse
    EXPECT_FALSE(install->IsPushed());
    ::SendMessageW(w, WM_LBUTTONUP, 0, At(270, 259));
    EXPECT_EQ(w.Count(L"click", L"btn_install"), 0);

    ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, At(270, 259));
    ASSERT_TRUE(install->IsPushed());
    install->SetEnabled(false);
    EXPECT_FALSE(install->IsPushed());
    ::SendMessageW(w, WM_LBUTTONUP, 0, At(270, 259));
    EXPECT_EQ(w.Count(L"click", L"btn_install"), 0);
}

TEST_F(SkinnedWindow, EscapeClosesWithOne) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    ::PostMessageW(w, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(w.ShowModal(), 1u);
    EXPECT_EQ(w.GetHWND(), nullptr);
    EXPECT_EQ(w.closeMessages, 1);
}

TEST_F(SkinnedWindow, CloseButtonClosesWithOneAndMinimiseButtonMinimises) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    Click(w, 495, 15);
    EXPECT_TRUE(::IsIconic(w));
    ::ShowWindow(w, SW_RESTORE);
    ::PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, At(525, 15));
    ::PostMessageW(w, WM_LBUTTONUP, 0, At(525, 15));
    EXPECT_EQ(w.ShowModal(), 1u);
    EXPECT_EQ(w.Count(L"click", L"btn_close"), 1);
}

TEST_F(SkinnedWindow, SystemCloseBecomesACloseMessage) {
    TestWindow w(L"MessageBox.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    ::SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(w.closeMessages, 1);
    EXPECT_EQ(w.GetHWND(), nullptr);
}

// Every way a modal box can go: its result is one the box defines (the
// system's Close and a close without a result mean "close", IDCANCEL), and
// the owner is enabled again before the box is hidden, so the system hands
// activation back to the owner rather than to another program.
TEST_F(SkinnedWindow, ModalBoxResultAndOwnerOnEveryWayItCloses) {
    TestWindow owner(L"InstallPackages.xml");
    ASSERT_TRUE(owner.Open());
    struct Way {
        const char* name;
        UINT msg;
        WPARAM wp;
        LPARAM lp;
        UINT expected;
    };
    const Way ways[] = {
        {"Close(1) from the controller", WM_CLOSE, 1, 0, 1},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 0, 1},
        {"system menu Close", WM_SYSCOMMAND, SC_CLOSE, 0, IDCANCEL},
        {"Alt+F4", WM_SYSKEYDOWN, VK_F4, 1 << 29, IDCANCEL},
        {"close without a result", WM_CLOSE, 0, 0, IDCANCEL},
        {"destroyed directly", WM_APP, 0, 0, IDCANCEL},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        TestWindow box(L"MessageBox.xml");
        ASSERT_NE(box.CreatePopup(owner), nullptr);
        ::PostMessageW(box, way.msg, way.wp, way.lp);
        EXPECT_EQ(box.ShowModal(), way.expected);
        EXPECT_EQ(box.GetHWND(), nullptr);
        EXPECT_TRUE(box.ownerEnabledWhenHidden);
        EXPECT_TRUE(::IsWindowEnabled(owner));
    }
    // The box's own close button (default reaction: close with 1).
    TestWindow box(L"MessageBox.xml");
    ASSERT_NE(box.CreatePopup(owner), nullptr);
    ::PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, At(265, 15));
    ::PostMessageW(box, WM_LBUTTONUP, 0, At(265, 15));
    EXPECT_EQ(box.ShowModal(), 1u);
    EXPECT_TRUE(box.ownerEnabledWhenHidden);
    EXPECT_EQ(::GetActiveWindow(), owner.GetHWND());
}

// Hiding a page forgets the state of everything on it: the hover look and a
// press of a control on the page, and an edit box open for typing.
TEST_F(SkinnedWindow, HidingAPageResetsItsControlsAndClosesTheEdit) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    auto* tab = w.FindControlAs<CTabLayoutUI>(L"tb_main");
    tab->SelectItem(1);
    auto* edit = w.FindControlAs<CEditUI>(L"edit_input");
    auto* select = w.FindControlAs<CButtonUI>(L"btn_select");
    auto* install2 = w.FindControlAs<CButtonUI>(L"btn_install2");
    Click(w, 100, 294);
    ASSERT_TRUE(edit->IsEditing());
    HWND native = edit->GetNativeWindow();
    ::SendMessageW(w, WM_MOUSEMOVE, 0, At(460, 294));
    ASSERT_TRUE(select->IsHot());
    tab->SelectItem(0);
    EXPECT_FALSE(select->IsHot());
    EXPECT_FALSE(edit->IsEditing());
    EXPECT_FALSE(::IsWindowVisible(native));
    EXPECT_NE(::GetFocus(), native);

    tab->SelectItem(1);
    ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, At(450, 332));
    ASSERT_TRUE(install2->IsPushed());
    tab->SelectItem(0);
    EXPECT_FALSE(install2->IsPushed());
    ::SendMessageW(w, WM_LBUTTONUP, 0, At(450, 332));
    EXPECT_EQ(w.Count(L"click", L"btn_install2"), 0);
}

// The first click into the folder box puts the caret where the user
// clicked; the box's background follows a later colour change.
TEST_F(SkinnedWindow, EditCaretGoesWhereClickedAndBackgroundFollowsColour) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(1);
    auto* edit = w.FindControlAs<CEditUI>(L"edit_input");
    const std::wstring text = L"D:\\Korvel网络\\KorvelQixar";
    edit->SetText(text);
    Click(w, 36 + 6 + 2, 294);  // on the first character
    ASSERT_TRUE(edit->IsEditing());
    DWORD from = 99, to = 99;
    ::SendMessageW(edit->GetNativeWindow(), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_LE(from, 1u);
    EXPECT_EQ(from, to);

    auto brushColour = [&] {
        HDC dc = ::GetDC(w);
        auto brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(w, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit->GetNativeWindow())));
        ::ReleaseDC(w, dc);
        LOGBRUSH lb{};
        ::GetObjectW(brush, sizeof(lb), &lb);
        return lb.lbColor;
    };
    EXPECT_EQ(brushColour(), RGB(255, 255, 255));
    edit->SetBkColor(0xFFFFF0D0);
    EXPECT_EQ(brushColour(), RGB(0xFF, 0xF0, 0xD0));
}

// Painting cost: a progress step repaints the progress control's rectangle
// and nothing else; a hovered button only its own.
TEST_F(SkinnedWindow, ProgressChangeInvalidatesOnlyTheProgressControl) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(2);
    ::UpdateWindow(w);
    RECT dirty{};
    ASSERT_FALSE(::GetUpdateRect(w, &dirty, FALSE));
    auto* progress = w.FindControlAs<CProgressUI>(L"pro_InstallProgress");
    progress->SetValue(40);
    progress->SetBkImage(L"file='progress_bk.png' dest='0,0,500,30' file='progress_fore.png' corner='0,10,110,10' dest='0,0,200,30'");
    ASSERT_TRUE(::GetUpdateRect(w, &dirty, FALSE));
    EXPECT_TRUE(::EqualRect(&dirty, &progress->GetPos()))
        << dirty.left << "," << dirty.top << "," << dirty.right << "," << dirty.bottom;
    ::UpdateWindow(w);

    auto* minimise = w.FindControlAs<CButtonUI>(L"btn_min");
    ::SendMessageW(w, WM_MOUSEMOVE, 0, At(495, 15));
    ASSERT_TRUE(minimise->IsHot());
    ASSERT_TRUE(::GetUpdateRect(w, &dirty, FALSE));
    EXPECT_TRUE(::EqualRect(&dirty, &minimise->GetPos()));
}

TEST_F(SkinnedWindow, FrameworkTimerReportsItsId) {
    TestWindow w(L"MessageBox.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    CControlUI* text = w.FindControl(L"lb_text");
    ASSERT_TRUE(w.GetPaintManager().SetTimer(text, 7, 20));
    EXPECT_TRUE(PumpMessagesUntil([&] { return w.Count(L"timer", L"lb_text") >= 2; }, 3000));
    EXPECT_TRUE(w.GetPaintManager().KillTimer(text, 7));
    EXPECT_FALSE(w.GetPaintManager().KillTimer(text, 7));
}

TEST_F(SkinnedWindow, ShadowFollowsShowMinimiseAndRestore) {
    ASSERT_TRUE(CWndShadow::IsAvailable());
    TestWindow w(L"MessageBox.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    HWND shadow = FindShadowOf(w);
    ASSERT_NE(shadow, nullptr);
    EXPECT_FALSE(::IsWindowVisible(shadow));
    EXPECT_NE(::GetWindowLongPtrW(shadow, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
    ::ShowWindow(w, SW_SHOWNORMAL);
    ::UpdateWindow(w);
    EXPECT_TRUE(PumpMessagesUntil([&] { return ::IsWindowVisible(shadow) != FALSE; }, 2000));
    RECT parent{}, rc{};
    ::GetWindowRect(w, &parent);
    ::GetWindowRect(shadow, &rc);
    EXPECT_EQ(rc.left, parent.left - 14);
    EXPECT_EQ(rc.bottom, parent.bottom + 14);

    ::ShowWindow(w, SW_MINIMIZE);
    EXPECT_TRUE(PumpMessagesUntil([&] { return !::IsWindowVisible(shadow); }, 2000));
    ::ShowWindow(w, SW_RESTORE);
    EXPECT_TRUE(PumpMessagesUntil([&] { return ::IsWindowVisible(shadow) != FALSE; }, 2000));

    ::DestroyWindow(w);
    EXPECT_FALSE(::IsWindow(shadow));
}

TEST(WndShadow, AlphaTableSideFactorsAndTapers) {
    const int expected[14] = {0, 1, 3, 6, 11, 18, 27, 38, 51, 66, 84, 103, 124, 146};
    for (int j = 0; j < 14; ++j) EXPECT_EQ(CWndShadow::BaseAlpha(14, j), expected[j]) << j;
    // A 200 x 100 parent sits at (14, 14) in a 228 x 128 image.
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 114, 13), static_cast<int>(146 * 0.2));   // top, inner ring
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 13, 64), static_cast<int>(146 * 0.46));   // left
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 214, 64), static_cast<int>(146 * 0.46));  // right
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 114, 114), static_cast<int>(146 * 0.46)); // bottom
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 114, 0), 0);                               // outermost ring
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 100, 50), 0);                              // under the parent
    EXPECT_EQ(CWndShadow::PixelAlpha(14, 200, 100, 0, 0), 0);                                 // tapered corner
    EXPECT_LT(CWndShadow::PixelAlpha(14, 200, 100, 13, 20), CWndShadow::PixelAlpha(14, 200, 100, 13, 64));
}

TEST_F(SkinnedWindow, UnloadableSkinFailsCreationWithALogLine) {
    LogCapture log;
    ScopedSkinPackage package(ZipEntries{{"bad.xml", "<Window size='1,1'><Label"}});
    TestWindow w(L"bad.xml");
    EXPECT_EQ(w.CreatePopup(), nullptr);
    EXPECT_NE(log.Text().find(L"could not be loaded"), std::wstring::npos);
    // The half-made window is destroyed at once and still gets its final
    // message: a window that deletes itself there must not also be deleted
    // by the caller of a failed Create.
    EXPECT_EQ(w.finalMessages, 1);
}
