// The skinned windows at the display scale of the process. ctest runs this
// group once at each of 96, 120, 144 and 192 DPI (with-display-scale.sh sets
// the Wine prefix's LogPixels and KV_DISPLAY_DPI); a plain run of the test
// program checks it at whatever scale the system has.
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Runtime/Handles.h"
#include "Ui/AccessibleIds.h"
#include "Ui/DpiScale.h"
#include "Ui/EditUI.h"
#include "Ui/RenderEngine.h"
#include "Ui/SkinPackage.h"
#include "Ui/TabLayoutUI.h"
#include "Ui/WndShadow.h"
#include "TestWindow.h"
#include "UiTestSupport.h"
#include "support/MessagePump.h"

namespace {

// The scale the run was started for, or 0 for "whatever the system has".
UINT RequestedDpi() {
    const char* v = std::getenv("KV_DISPLAY_DPI");
    return v ? static_cast<UINT>(std::atoi(v)) : 0;
}

std::string RectText(const RECT& rc) {
    return std::to_string(rc.left) + "," + std::to_string(rc.top) + " - " + std::to_string(rc.right) + "," +
           std::to_string(rc.bottom);
}

// Rows of `rc` holding at least one pixel darker than mid grey: the height
// of the text drawn there.
int InkHeight(const std::vector<uint32_t>& px, int width, const RECT& rc) {
    int first = -1, last = -1;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x) {
            const uint32_t p = px[static_cast<size_t>(y) * width + x];
            const int luma = (((p >> 16) & 0xFF) * 3 + ((p >> 8) & 0xFF) * 6 + (p & 0xFF)) / 10;
            if (luma < 128) {
                if (first < 0) first = y;
                last = y;
                break;
            }
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

// The ink height of `text` in the face of `font` at 100% (a 12-pixel
// character height): the size the skin was drawn for.
int InkHeightAt100(HFONT font, const std::wstring& text) {
    LOGFONTW lf{};
    ::GetObjectW(font, sizeof(lf), &lf);
    lf.lfHeight = -12;
    kv::UniqueGdiObject small(::CreateFontIndirectW(&lf));
    const int w = 200, h = 40;
    void* bits = nullptr;
    kv::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    kv::UniqueGdiObject dib = CRenderEngine::CreateDib32(nullptr, w, h, &bits);
    HGDIOBJ oldBitmap = ::SelectObject(dc.get(), dib.get());
    RECT all{0, 0, w, h};
    CRenderEngine::FillColor(dc.get(), all, 0xFFFFFFFF);
    CRenderEngine::DrawText(dc.get(), all, text, 0xFF000000, static_cast<HFONT>(small.get()), DT_LEFT | DT_VCENTER);
    ::GdiFlush();
    const std::vector<uint32_t> px(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + w * h);
    ::SelectObject(dc.get(), oldBitmap);
    return InkHeight(px, w, all);
}

class DisplayScale : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CWndShadow::Initialize(::GetModuleHandleW(nullptr)); }
    int S(int v) const { return CDpiScale::Scale(v, dpi_); }
    // Creates `w` shown; the scale the checks expect is the one the run was
    // started at (or the system's), and the window must have taken it.
    void Open(TestWindow& w) {
        ASSERT_NE(w.CreatePopup(), nullptr);
        w.ShowWindow(true);
        dpi_ = CDpiScale::ForWindow(w);
        if (RequestedDpi() != 0) {
            EXPECT_EQ(dpi_, RequestedDpi()) << "the prefix's LogPixels did not apply";
            dpi_ = RequestedDpi();
        }
        EXPECT_EQ(w.GetPaintManager().GetDpi(), dpi_);
    }
    UINT dpi_ = CDpiScale::kBaseDpi;
};

}  // namespace

// The installer skin at the monitor's scale: window size, every page's
// controls where the markup puts them times the scale, drag area, region,
// minimum size, shadow depth, text height, and the accessible locations.
TEST_F(DisplayScale, InstallerSkinAtTheMonitorsScale) {
    TestWindow w(L"InstallPackages.xml");
    Open(w);
    RECT rc{};
    ::GetWindowRect(w, &rc);
    EXPECT_EQ(rc.right - rc.left, S(540));  // 810 x 533 at 150%
    EXPECT_EQ(rc.bottom - rc.top, S(355));
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(w, rgn), ERROR);
    RECT box{};
    ::GetRgnBox(rgn, &box);
    ::DeleteObject(rgn);
    EXPECT_EQ(box.right, S(540));
    MINMAXINFO info{};
    ::SendMessageW(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, S(540));
    EXPECT_EQ(info.ptMinTrackSize.y, S(355));

    // Each page's lower strip has a fixed height; the floating controls sit
    // at their markup position inside their layout.
    struct Place {
        const wchar_t* name;
        int page;
        int strip;  // height of the strip the control floats in (0: the page's top)
        int x, y, cx, cy;
    };
    const Place places[] = {
        {L"btn_install", 0, 0, 177, 237, 184, 44},   {L"opt_agree", 0, 42, 13, 10, 120, 24},
        {L"btn_free", 0, 42, 385, 14, 140, 17},       {L"edit_input", 1, 110, 36, 35, 387, 29},
        {L"btn_install2", 1, 110, 407, 73, 100, 28}, {L"pro_InstallProgress", 2, 54, 18, 2, 500, 30},
        {L"lb_speed", 2, 54, 300, 28, 218, 20},      {L"btn_min", 2, 0, 480, 0, 30, 30},
        {L"btn_close", 0, 0, 510, 0, 30, 30},
    };
    auto* tab = w.FindControlAs<CTabLayoutUI>(L"tb_main");
    ASSERT_NE(tab, nullptr);
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        tab->SelectItem(p.page);
        w.GetPaintManager().LayoutIfNeeded();
        const int strip = p.strip ? S(355) - S(p.strip) : 0;
        const RECT expected{S(p.x), strip + S(p.y), S(p.x + p.cx), strip + S(p.y + p.cy)};
        const RECT got = w.FindControl(p.name)->GetPos();
        EXPECT_TRUE(::EqualRect(&got, &expected)) << RectText(got) << " instead of " << RectText(expected);
    }

    // The drag area is the caption's 100 rows, scaled; buttons in it are not.
    tab->SelectItem(0);
    EXPECT_EQ(w.HitTestClient({S(100), S(100) - 1}), HTCAPTION);
    EXPECT_EQ(w.HitTestClient({S(300), S(100)}), HTCLIENT);
    EXPECT_EQ(w.HitTestClient({S(495), S(15)}), HTCLIENT);
    EXPECT_EQ(w.HitTestClient({S(470), S(15)}), HTCAPTION);

    // The text of the agreement option ("同意", font 1) is drawn at the scaled
    // height: its ink is the scale times the ink of the same face at 100%.
    w.GetPaintManager().LayoutIfNeeded();
    const std::vector<uint32_t> px = PaintOffscreen(w.GetPaintManager(), S(540), S(355));
    ASSERT_EQ(px.size(), static_cast<size_t>(S(540)) * S(355));
    RECT agree = w.FindControl(L"opt_agree")->GetPos();
    agree.left += S(18);  // past the tick box
    const int ink = InkHeight(px, S(540), agree);
    const int ink100 = InkHeightAt100(w.GetPaintManager().GetFont(1), L"同意");
    EXPECT_GT(ink100, 5);
    EXPECT_NEAR(ink, S(ink100), 2) << "at 100% the text is " << ink100 << " pixels high";

    // The shadow is as many pixels deep as the scale makes 14.
    HWND shadow = FindShadowOf(w);
    ASSERT_NE(shadow, nullptr);
    EXPECT_TRUE(PumpMessagesUntil([&] { return ::IsWindowVisible(shadow) != FALSE; }, 2000));
    RECT shadowRc{};
    ::GetWindowRect(shadow, &shadowRc);
    ::GetWindowRect(w, &rc);
    EXPECT_EQ(rc.left - shadowRc.left, S(14));
    EXPECT_EQ(shadowRc.bottom - rc.bottom, S(14));

    // A screen reader's rectangles are the controls' scaled ones on screen.
    ::CoInitialize(nullptr);
    IAccessible* acc = nullptr;
    const LRESULT r = ::SendMessageW(w, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
    ASSERT_EQ(::ObjectFromLresult(r, kv::kIidAccessible, 0, reinterpret_cast<void**>(&acc)), S_OK);
    VARIANT hit;
    ::VariantInit(&hit);
    POINT onInstall{S(177) + S(92), S(237) + S(22)};
    ::ClientToScreen(w, &onInstall);
    ASSERT_EQ(acc->accHitTest(onInstall.x, onInstall.y, &hit), S_OK);
    ASSERT_EQ(hit.vt, VT_I4);
    LONG x = 0, y = 0, cx = 0, cy = 0;
    EXPECT_EQ(acc->accLocation(&x, &y, &cx, &cy, hit), S_OK);
    POINT origin{S(177), S(237)};
    ::ClientToScreen(w, &origin);
    EXPECT_EQ(x, origin.x);
    EXPECT_EQ(y, origin.y);
    EXPECT_EQ(cx, S(177 + 184) - S(177));
    EXPECT_EQ(cy, S(237 + 44) - S(237));
    acc->Release();
    ::CoUninitialize();
    ::DestroyWindow(w);
}

// The message box at its owner's scale: size, buttons and text height.
TEST_F(DisplayScale, MessageBoxAtItsOwnersScale) {
    TestWindow owner(L"InstallPackages.xml");
    Open(owner);
    TestWindow box(L"MessageBox.xml");
    ASSERT_NE(box.CreatePopup(owner), nullptr);
    box.ShowWindow(true);
    EXPECT_EQ(box.GetPaintManager().GetDpi(), dpi_);
    RECT rc{};
    ::GetWindowRect(box, &rc);
    EXPECT_EQ(rc.right - rc.left, S(280));
    EXPECT_EQ(rc.bottom - rc.top, S(115));
    box.GetPaintManager().LayoutIfNeeded();
    // The close button is 30 x 30 at the top right; the button row is 44
    // high with a 10-pixel inset at the top and a 9-pixel one at the bottom.
    const RECT close = box.FindControl(L"btn_close")->GetPos();
    EXPECT_EQ(close.right, S(280));
    EXPECT_EQ(close.bottom - close.top, S(30));
    const RECT ok = box.FindControl(L"btn_ok")->GetPos();
    EXPECT_EQ(ok.bottom, S(115) - S(9));
    EXPECT_EQ(ok.bottom - ok.top, S(44) - S(10) - S(9));
    EXPECT_EQ(ok.right - ok.left, S(70) - S(10));

    const std::vector<uint32_t> px = PaintOffscreen(box.GetPaintManager(), S(280), S(115));
    ASSERT_FALSE(px.empty());
    const std::wstring text = box.FindControl(L"lb_text")->GetText();
    const int ink = InkHeight(px, S(280), box.FindControl(L"lb_text")->GetPos());
    const int ink100 = InkHeightAt100(box.GetPaintManager().GetFont(-1), text);
    EXPECT_GT(ink100, 5);
    EXPECT_NEAR(ink, S(ink100), 2) << "at 100% the text is " << ink100 << " pixels high";

    // Made on another monitor than its owner's, the box already has the
    // owner's scale when it is moved there: the system's suggested size,
    // scaled from the first monitor's DPI, is not taken; its position is.
    const RECT suggested{7, 9, 7 + S(280) * 3 / 2, 9 + S(115) * 3 / 2};
    ::SendMessageW(box, WM_DPICHANGED, MAKEWPARAM(dpi_, dpi_), reinterpret_cast<LPARAM>(&suggested));
    ::GetWindowRect(box, &rc);
    const RECT kept{7, 9, 7 + S(280), 9 + S(115)};
    EXPECT_TRUE(::EqualRect(&rc, &kept)) << RectText(rc);
    ::DestroyWindow(box);
    ::DestroyWindow(owner);
}

// Edges stay sharp. Art drawn for 200% ("edge@2x.png": a one-pixel red line
// in white) keeps its line one device pixel wide at 200%; at smaller scales
// the line is averaged into at most two pixels of the same total weight. Art
// drawn for 100% ("plain.png") stretched to 200% spreads a one-pixel line
// over more than one pixel: that is what a stretched window looks like.
TEST_F(DisplayScale, ArtForTwiceTheScaleKeepsItsOnePixelLines) {
    auto line = [](int x, int) -> uint32_t { return x == 10 ? 0xFFFF0000 : 0xFFFFFFFF; };
    auto line100 = [](int x, int) -> uint32_t { return x == 5 ? 0xFFFF0000 : 0xFFFFFFFF; };
    ScopedSkinPackage package(ZipEntries{
        {"edge.xml",
         "<Window size='40,20'><HorizontalLayout bkcolor='#ffffffff'>"
         "<Control name='hi' float='true' pos='0,0,0,0' width='10' height='10' bkimage='edge.png'/>"
         "<Control name='lo' float='true' pos='20,0,0,0' width='10' height='10' bkimage='plain.png'/>"
         "</HorizontalLayout></Window>"},
        {"edge@2x.png", MakePng(20, 20, line)},
        {"plain.png", MakePng(10, 10, line100)}});
    ASSERT_TRUE(package.ok());
    TestWindow w(L"edge.xml");
    Open(w);
    w.GetPaintManager().LayoutIfNeeded();
    const int width = S(40);
    const std::vector<uint32_t> px = PaintOffscreen(w.GetPaintManager(), width, S(20));
    ASSERT_FALSE(px.empty());
    // Across one row of a control: how many pixels the line touches, and its
    // weight (how much green and blue it takes away, in pixels).
    auto measure = [&](const wchar_t* name, int& touched, double& weight) {
        const RECT c = w.FindControl(name)->GetPos();
        const int y = (c.top + c.bottom) / 2;
        touched = 0;
        weight = 0;
        for (int x = c.left; x < c.right; ++x) {
            const uint32_t p = PixelAt(px, width, x, y);
            EXPECT_EQ(p >> 16, 0xFFu) << "x " << x;  // red everywhere: white or the line
            const double lost = (255 - ((p >> 8) & 0xFF)) / 255.0;
            weight += lost;
            touched += lost > 0.02;
        }
    };
    int touched = 0;
    double weight = 0;
    measure(L"hi", touched, weight);
    EXPECT_NEAR(weight, dpi_ / 192.0, 0.05);
    EXPECT_LE(touched, 2);
    if (dpi_ == 192) {
        EXPECT_EQ(touched, 1);  // one device pixel, pure red
        EXPECT_EQ(PixelAt(px, width, S(5), S(5)), 0xFF0000u);
    }
    measure(L"lo", touched, weight);
    EXPECT_NEAR(weight, dpi_ / 96.0, 0.1);
    if (dpi_ >= 192) {
        EXPECT_GE(touched, 2);
    }

    ::DestroyWindow(w);

    // The skin's own 200% art is drawn pixel for pixel at 200%: the middle of
    // the install button is exactly the art's middle.
    if (dpi_ != 192) return;
    std::vector<uint8_t> bytes;
    CSkinPackage::Instance().Close();
    ASSERT_TRUE(CSkinPackage::Instance().ReadFile(L"install_0@2x.png", bytes));
    std::unique_ptr<Gdiplus::Bitmap> art = CRenderEngine::DecodeImage(bytes);
    ASSERT_TRUE(art);
    TestWindow installer(L"InstallPackages.xml");
    Open(installer);
    installer.FindControl(L"btn_install")->SetText(L"");  // the art alone, without the text drawn over it
    installer.GetPaintManager().LayoutIfNeeded();
    const std::vector<uint32_t> skin = PaintOffscreen(installer.GetPaintManager(), S(540), S(355));
    const RECT button = installer.FindControl(L"btn_install")->GetPos();
    int differing = 0;
    for (int y = 20; y < 68; ++y) {
        for (int x = 60; x < 308; ++x) {
            Gdiplus::Color c;
            art->GetPixel(x, y, &c);
            const uint32_t want = c.GetValue() & 0xFFFFFF;
            differing += PixelAt(skin, S(540), button.left + x, button.top + y) != want;
        }
    }
    EXPECT_EQ(differing, 0);
    ::DestroyWindow(installer);
}

// A window moved to a monitor of another scale takes the suggested
// rectangle, lays itself out again (fonts, an open edit box, the region, the
// shadow), and a message box it opens afterwards follows it.
TEST_F(DisplayScale, DpiChangeTakesTheSuggestedRectangleAndLaysOutAgain) {
    TestWindow w(L"InstallPackages.xml");
    Open(w);
    const UINT from = dpi_, to = from == 144 ? 192 : 144;
    auto* tab = w.FindControlAs<CTabLayoutUI>(L"tb_main");
    tab->SelectItem(1);
    auto* edit = w.FindControlAs<CEditUI>(L"edit_input");
    edit->SetText(L"D:\\KorvelQixar");
    w.GetPaintManager().LayoutIfNeeded();
    const RECT editAt = edit->GetPos();
    ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(editAt.left + 20, editAt.top + 5));
    ::SendMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(editAt.left + 20, editAt.top + 5));
    ASSERT_TRUE(edit->IsEditing());
    const int fontHeightBefore = w.GetPaintManager().GetFontHeight(1);

    for (const UINT dpi : {to, from}) {
        SCOPED_TRACE(dpi);
        dpi_ = dpi;
        const RECT suggested{10, 20, 10 + S(540), 20 + S(355)};
        ::SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(w.GetPaintManager().GetDpi(), dpi);
        RECT rc{};
        ::GetWindowRect(w, &rc);
        EXPECT_TRUE(::EqualRect(&rc, &suggested)) << RectText(rc);
        const int strip = S(355) - S(110);
        const RECT expected{S(36), strip + S(35), S(36 + 387), strip + S(35 + 29)};
        EXPECT_TRUE(::EqualRect(&edit->GetPos(), &expected)) << RectText(edit->GetPos());
        // The open edit box has the new font, and lies inside the control.
        EXPECT_TRUE(edit->IsEditing());
        const auto font = reinterpret_cast<HFONT>(::SendMessageW(edit->GetNativeWindow(), WM_GETFONT, 0, 0));
        EXPECT_EQ(font, w.GetPaintManager().GetFont(1));
        LOGFONTW lf{};
        EXPECT_NE(::GetObjectW(font, sizeof(lf), &lf), 0);
        EXPECT_EQ(lf.lfHeight, -S(12));
        RECT native{};
        ::GetWindowRect(edit->GetNativeWindow(), &native);
        ::MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&native), 2);
        RECT inside{};
        ::IntersectRect(&inside, &native, &edit->GetPos());
        EXPECT_TRUE(::EqualRect(&inside, &native)) << RectText(native);
        HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
        ::GetWindowRgn(w, rgn);
        RECT region{};
        ::GetRgnBox(rgn, &region);
        ::DeleteObject(rgn);
        EXPECT_EQ(region.right, S(540));
        HWND shadow = FindShadowOf(w);
        ASSERT_NE(shadow, nullptr);
        RECT shadowRc{};
        ::GetWindowRect(shadow, &shadowRc);
        EXPECT_EQ(rc.left - shadowRc.left, S(14));

        // A message box opened now takes the window's new scale.
        TestWindow box(L"MessageBox.xml");
        ASSERT_NE(box.CreatePopup(w), nullptr);
        EXPECT_EQ(box.GetPaintManager().GetDpi(), dpi);
        ::GetWindowRect(box, &rc);
        EXPECT_EQ(rc.right - rc.left, S(280));
        EXPECT_EQ(rc.bottom - rc.top, S(115));
        ::DestroyWindow(box);
    }
    EXPECT_EQ(w.GetPaintManager().GetFontHeight(1), fontHeightBefore);

    // A closed edit box on a page that is not shown is not laid out, yet it
    // must not keep a font the change deletes.
    tab->SelectItem(2);
    ASSERT_FALSE(edit->IsEditing());
    const HWND hidden = edit->GetNativeWindow();
    ASSERT_NE(hidden, nullptr);
    const RECT suggested{10, 20, 10 + CDpiScale::Scale(540, to), 20 + CDpiScale::Scale(355, to)};
    ::SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    const auto held = reinterpret_cast<HFONT>(::SendMessageW(hidden, WM_GETFONT, 0, 0));
    EXPECT_EQ(held, w.GetPaintManager().GetFont(1));
    EXPECT_NE(::GetObjectType(held), 0u) << "the hidden edit box holds a deleted font";
    ::DestroyWindow(w);
}
