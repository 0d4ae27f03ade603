#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/MessagePump.h"
#include "Ui/AccessibleInfo.h"
#include "Ui/HighContrast.h"
#include "Ui/ProgressUI.h"
#include "Ui/TabLayoutUI.h"
#include "TestWindow.h"
#include "UiTestSupport.h"

namespace {

bool g_on = false;
constexpr uint32_t kHighlight = 0x1AEBFF;

// White on black with a cyan highlight (set by SetSysColors, as Wine cannot
// switch high contrast itself), the mode asked through the injected query
// and switched by WM_SETTINGCHANGE, sent as the system sends it (it cannot
// be posted: ERROR_MESSAGE_SYNC_ONLY).
class HighContrast : public SkinnedWindow {
protected:
    void SetUp() override {
        for (size_t i = 0; i < kIndex.size(); ++i) saved_.push_back(::GetSysColor(kIndex[i]));
        const std::vector<COLORREF> scheme{0, 0xFFFFFF, 0, 0xFFFFFF, RGB(0x1A, 0xEB, 0xFF), 0, 0x3FF23F};
        ::SetSysColors(static_cast<int>(kIndex.size()), kIndex.data(), scheme.data());
        CHighContrast::SetQuery([] { return g_on; });
    }
    void TearDown() override {
        ::SetSysColors(static_cast<int>(kIndex.size()), kIndex.data(), saved_.data());
        g_on = false;
        CHighContrast::Refresh();
        CHighContrast::SetQuery(nullptr);
    }
    static void Switch(HWND hwnd, bool on) {
        g_on = on;
        ::SendMessageW(hwnd, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    }
    // Pixels that are neither black, white nor a grey between them (text's
    // smoothing) nor the highlight colour: a photo or a skin colour.
    static int Foreign(const std::vector<uint32_t>& px) {
        int n = 0;
        for (uint32_t p : px) {
            const uint32_t c = p & 0xFFFFFF, r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
            n += !(r == g && g == b) && c != kHighlight;
        }
        return n;
    }
    static int Count(const std::vector<uint32_t>& px, int w, const RECT& rc, uint32_t color) {
        int n = 0;
        for (int y = rc.top; y < rc.bottom; ++y)
            for (int x = rc.left; x < rc.right; ++x) n += PixelAt(px, w, x, y) == color;
        return n;
    }

    const std::vector<int> kIndex{COLOR_WINDOW,    COLOR_WINDOWTEXT,    COLOR_BTNFACE, COLOR_BTNTEXT,
                                  COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT};
    std::vector<COLORREF> saved_;
};

// What stays: every control's place, the reader's children and the Tab order.
struct Snapshot {
    std::vector<RECT> places;
    std::vector<std::wstring> children;
    std::vector<CControlUI*> tabOrder;
    bool operator==(const Snapshot& o) const {
        for (size_t i = 0; i < places.size() && i < o.places.size(); ++i)
            if (!::EqualRect(&places[i], &o.places[i])) return false;
        return places.size() == o.places.size() && children == o.children && tabOrder == o.tabOrder;
    }
};
Snapshot Take(CPaintManagerUI& m) {
    m.LayoutIfNeeded();
    Snapshot s;
    for (CControlUI* c : CAccessibleInfo::Flatten(m.GetRoot())) s.places.push_back(c->GetPos());
    for (CControlUI* c : CAccessibleInfo::ShownChildren(m.GetRoot()))
        s.children.push_back(CAccessibleInfo::Name(*c) + L"/" + std::to_wstring(CAccessibleInfo::Role(*c)));
    s.tabOrder = m.GetFocusOrder();
    return s;
}

}  // namespace

// On each page of the installer the switch on drops the photos, skin
// colours and shadow, draws the image-only buttons' names and fills the
// progress bar in the highlight colour, and keeps the layout, the reader's
// tree and the Tab order; the switch off brings the photos and shadow back.
TEST_F(HighContrast, SwitchedOnAndOffWhileEachPageIsShown) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    CPaintManagerUI& m = w.GetPaintManager();
    HWND shadow = FindShadowOf(w);
    ASSERT_TRUE(PumpMessagesUntil([&] { return ::IsWindowVisible(shadow) != FALSE; }, 2000));
    w.FindControlAs<CProgressUI>(L"pro_InstallProgress")->SetValue(50);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(page);
        const Snapshot before = Take(m);
        EXPECT_GT(Foreign(PaintOffscreen(m, 540, 355)), 10000);

        Switch(w, true);
        EXPECT_TRUE(CHighContrast::IsOn());
        const std::vector<uint32_t> px = PaintOffscreen(m, 540, 355);
        EXPECT_EQ(Foreign(px), 0);
        EXPECT_EQ(PixelAt(px, 540, 100, 100), 0u);  // the hero photo's place
        EXPECT_FALSE(::IsWindowVisible(shadow));
        EXPECT_TRUE(Take(m) == before);
        if (page == 0) {
            RECT face = w.FindControl(L"btn_install")->GetPos();  // inside its frame: black but for the name
            ::InflateRect(&face, -2, -2);
            EXPECT_GT((face.right - face.left) * (face.bottom - face.top) - Count(px, 540, face, 0), 100);
            const RECT min = w.FindControl(L"btn_min")->GetPos();  // its name on one line, not broken
            std::vector<int> inked;
            for (int y = min.top + 2; y < min.bottom - 2; ++y)
                if (Count(px, 540, {min.left + 2, y, min.right - 2, y + 1}, 0) < min.right - min.left - 4) inked.push_back(y);
            EXPECT_TRUE(!inked.empty() && inked.back() - inked.front() < 16);
        }
        if (page == 2) {
            const RECT bar = w.FindControl(L"pro_InstallProgress")->GetPos();
            const int y = (bar.top + bar.bottom) / 2, quarter = (bar.right - bar.left) / 4;
            EXPECT_EQ(PixelAt(px, 540, bar.left + quarter, y), kHighlight);
            EXPECT_EQ(PixelAt(px, 540, bar.right - quarter, y), 0u);
        }

        Switch(w, false);
        EXPECT_GT(Foreign(PaintOffscreen(m, 540, 355)), 10000);
        EXPECT_TRUE(PumpMessagesUntil([&] { return ::IsWindowVisible(shadow) != FALSE; }, 2000));
    }
}

// A box made while high contrast is on starts in it, without its shadow,
// and its keyboard focus mark is a ring in the highlight colour.
TEST_F(HighContrast, MessageBoxStartsInItAndMarksTheFocusInTheHighlight) {
    g_on = true;
    TestWindow box(L"MessageBox.xml");
    ASSERT_TRUE(box.Open());
    ::SetFocus(box);
    ::SendMessageW(box, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ::SendMessageW(box, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ASSERT_EQ(box.GetPaintManager().GetFocus(), box.FindControl(L"btn_ok"));
    PumpMessagesFor(100);
    EXPECT_FALSE(::IsWindowVisible(FindShadowOf(box)));
    const std::vector<uint32_t> px = PaintOffscreen(box.GetPaintManager(), 280, 115);
    EXPECT_EQ(PixelAt(px, 280, 100, 15), 0u);  // the title bar's place
    const RECT mark = box.GetPaintManager().FocusMarkRect(box.FindControl(L"btn_ok"));
    EXPECT_GT(Count(px, 280, mark, kHighlight), 40);
}
