#include <gtest/gtest.h>

#include "Ui/ButtonUI.h"
#include "Ui/ContainerUI.h"
#include "Ui/LabelUI.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/RenderEngine.h"
#include "UiTestSupport.h"

namespace {
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF, kGrey = 0x808080;

// Paints one control of `w` x `h` over a grey background into an off-screen
// 32-bit image and returns its pixels.
class OffscreenRender : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = std::make_unique<ScopedSkinPackage>(std::vector<std::pair<std::string, std::string>>{
            {"red.png", MakeSolidPng(10, 10, 0xFFFF0000)},
            {"blue.png", MakeSolidPng(10, 10, 0xFF0000FF)},
            {"quad.png", MakeQuadrantPng()},
            {"frame.png", MakeFramePng()},
            {"broken.png", "not a png"}});
        ASSERT_TRUE(package_->ok());
    }

    std::vector<uint32_t> Render(CControlUI* control, int w, int h) {
        auto* root = new CContainerUI;
        root->SetBkColor(0xFF808080);
        root->Add(control);
        manager_.AttachDialog(root);
        manager_.initSize = {w, h};
        manager_.LayoutIfNeeded();
        return PaintOffscreen(manager_, w, h);
    }

    std::vector<uint32_t> RenderImage(const std::wstring& description, int w = 30, int h = 30) {
        auto* c = new CControlUI;
        c->SetBkImage(description);
        return Render(c, w, h);
    }

    std::unique_ptr<ScopedSkinPackage> package_;
    CPaintManagerUI manager_;
};

bool Near(uint32_t a, uint32_t b, int tolerance = 3) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}
}  // namespace

TEST_F(OffscreenRender, BareFileNameStretchesOverTheControl) {
    const auto px = RenderImage(L"red.png");
    EXPECT_EQ(PixelAt(px, 30, 0, 0), kRed);
    EXPECT_EQ(PixelAt(px, 30, 15, 15), kRed);
    EXPECT_EQ(PixelAt(px, 30, 29, 29), kRed);
}

TEST_F(OffscreenRender, DestPlacesTheImageRelativeToTheControl) {
    const auto px = RenderImage(L"file='red.png' dest='0,4,16,20'");
    EXPECT_EQ(PixelAt(px, 30, 8, 12), kRed);
    EXPECT_EQ(PixelAt(px, 30, 0, 4), kRed);
    EXPECT_EQ(PixelAt(px, 30, 15, 19), kRed);
    EXPECT_EQ(PixelAt(px, 30, 8, 2), kGrey);
    EXPECT_EQ(PixelAt(px, 30, 8, 21), kGrey);
    EXPECT_EQ(PixelAt(px, 30, 17, 12), kGrey);
}

TEST_F(OffscreenRender, DestIsCutAtTheControlsEdges) {
    auto* holder = new CContainerUI;
    auto* c = new CControlUI;
    c->SetFixedWidth(20);
    c->SetFixedHeight(20);
    c->SetFloat(true);
    c->SetFloatPos({5, 5, 0, 0});
    c->SetBkImage(L"file='red.png' dest='10,10,40,40'");
    holder->Add(c);
    const auto px = Render(holder, 40, 40);
    EXPECT_EQ(PixelAt(px, 40, 20, 20), kRed);
    EXPECT_EQ(PixelAt(px, 40, 24, 24), kRed);
    EXPECT_EQ(PixelAt(px, 40, 26, 26), kGrey);
}

TEST_F(OffscreenRender, SourceTakesOnlyThatPartOfTheImage) {
    auto px = RenderImage(L"file='quad.png' source='10,0,20,10'");
    EXPECT_EQ(PixelAt(px, 30, 1, 1), kGreen);
    EXPECT_EQ(PixelAt(px, 30, 28, 28), kGreen);
    px = RenderImage(L"file='quad.png' source='0,10,10,20'");
    EXPECT_EQ(PixelAt(px, 30, 15, 15), kBlue);
}

TEST_F(OffscreenRender, TwoFilesDrawTheFirstUnderTheSecond) {
    const auto px = RenderImage(L"file='red.png' file='blue.png' dest='0,0,10,10'");
    EXPECT_EQ(PixelAt(px, 30, 5, 5), kBlue);
    EXPECT_EQ(PixelAt(px, 30, 20, 20), kRed);
}

TEST_F(OffscreenRender, MissingOrUnreadableFileIsSkippedAndTheOthersDraw) {
    LogCapture log;
    auto px = RenderImage(L"file='missing.png' file='blue.png' dest='0,0,10,10'");
    EXPECT_EQ(PixelAt(px, 30, 5, 5), kBlue);
    EXPECT_EQ(PixelAt(px, 30, 20, 20), kGrey);
    px = RenderImage(L"file='red.png' dest='0,0,10,10' file='broken.png'");
    EXPECT_EQ(PixelAt(px, 30, 5, 5), kRed);
    EXPECT_EQ(PixelAt(px, 30, 20, 20), kGrey);
    EXPECT_NE(log.Text().find(L"missing.png"), std::wstring::npos);
}

TEST_F(OffscreenRender, NinePartWithHoleLeavesTheMiddleUndrawn) {
    auto px = RenderImage(L"file='frame.png' corner='3,3,3,3' hole='true'");
    EXPECT_EQ(PixelAt(px, 30, 1, 1), kRed);
    EXPECT_EQ(PixelAt(px, 30, 28, 15), kRed);
    EXPECT_EQ(PixelAt(px, 30, 15, 15), kGrey);
    px = RenderImage(L"file='frame.png' corner='3,3,3,3'");
    EXPECT_EQ(PixelAt(px, 30, 15, 15), kBlue);
    // Unscaled borders: still exactly three pixels wide.
    EXPECT_EQ(PixelAt(px, 30, 2, 15), kRed);
    EXPECT_EQ(PixelAt(px, 30, 3, 15), kBlue);
}

// Tiling starts and stops at the clip rectangle, keeping the tiles aligned
// to the destination's origin. Unbounded, this description (a destination
// far to the top left) would take ten billion draw calls.
TEST_F(OffscreenRender, TilingIsBoundedByTheClipAndStaysAligned) {
    using Span = CRenderEngine::Span;
    auto same = [](Span a, Span b) { return a.first == b.first && a.end == b.end; };
    EXPECT_TRUE(same(CRenderEngine::TileSpan(0, 100, 10, 35, 60), Span{30, 60}));        // from the tile holding 35
    EXPECT_TRUE(same(CRenderEngine::TileSpan(-100005, 30, 20, 0, 30), Span{-5, 30}));    // far origin
    EXPECT_TRUE(same(CRenderEngine::TileSpan(10, 100, 10, 0, 200), Span{10, 100}));      // clip wider than dest
    EXPECT_TRUE(same(CRenderEngine::TileSpan(0, 100, 7, 100, 120), Span{98, 100}));      // nothing left to draw
    const auto px = RenderImage(L"file='quad.png' xtiled='true' ytiled='true' dest='-100005,-100005,30,30'");
    // The tile covering (0, 0) starts at (-5, -5): red, green / blue, white.
    EXPECT_EQ(PixelAt(px, 30, 0, 0), kRed);
    EXPECT_EQ(PixelAt(px, 30, 4, 4), kRed);
    EXPECT_EQ(PixelAt(px, 30, 6, 0), kGreen);
    EXPECT_EQ(PixelAt(px, 30, 0, 6), kBlue);
    EXPECT_EQ(PixelAt(px, 30, 6, 6), kWhite);
    EXPECT_EQ(PixelAt(px, 30, 16, 16), kRed);  // the next tile
}

// Painting keeps what it derives from an image (its DIB for GDI blending)
// between paints: the second paint makes nothing new and draws the same.
// Scaled pieces start exactly at their edge (GDI+ under Wine left the first
// column of a scaled piece unpainted).
TEST_F(OffscreenRender, KeptImageDataIsMadeOnceAndScaledPiecesMeet) {
    const std::wstring frame = L"file='frame.png' corner='3,3,3,3'";
    const auto first = RenderImage(frame, 40, 30);
    CImageDrawCache* cache = manager_.GetDrawCache();
    ASSERT_NE(cache, nullptr);
    const size_t dibs = cache->DibCount();
    EXPECT_EQ(dibs, 1u);
    const auto second = RenderImage(frame, 40, 30);
    EXPECT_EQ(cache->DibCount(), dibs);
    EXPECT_EQ(second, first);
    for (int x = 0; x < 40; ++x) {
        const uint32_t top = PixelAt(first, 40, x, 0), middle = PixelAt(first, 40, x, 15);
        EXPECT_EQ(top, kRed) << x;
        EXPECT_EQ(middle, x < 3 || x >= 37 ? kRed : kBlue) << x;
    }
    // With caching off the image is still drawn (by GDI+), nothing is kept.
    CPaintManagerUI::SetPaintCaching(false);
    const auto uncached = RenderImage(frame, 40, 30);
    EXPECT_EQ(manager_.GetDrawCache(), nullptr);
    CPaintManagerUI::SetPaintCaching(true);
    EXPECT_EQ(PixelAt(uncached, 40, 20, 15), kBlue);
    EXPECT_EQ(PixelAt(uncached, 40, 20, 1), kRed);
}

TEST_F(OffscreenRender, FadeMaskAndCentring) {
    auto px = RenderImage(L"file='red.png' fade='128'");
    EXPECT_TRUE(Near(PixelAt(px, 30, 15, 15), 0xBF4040, 4)) << std::hex << PixelAt(px, 30, 15, 15);
    px = RenderImage(L"file='quad.png' mask='#ff0000'");
    EXPECT_EQ(PixelAt(px, 30, 2, 2), kGrey);
    EXPECT_EQ(PixelAt(px, 30, 27, 27), kWhite);
    px = RenderImage(L"file='red.png' stretch='false' center='true'");
    EXPECT_EQ(PixelAt(px, 30, 15, 15), kRed);
    EXPECT_EQ(PixelAt(px, 30, 10, 10), kRed);
    EXPECT_EQ(PixelAt(px, 30, 9, 9), kGrey);
    EXPECT_EQ(PixelAt(px, 30, 20, 20), kGrey);
    px = RenderImage(L"file='red.png' stretch='false'", 40, 20);  // fit 20x20, centred across
    EXPECT_EQ(PixelAt(px, 40, 20, 10), kRed);
    EXPECT_EQ(PixelAt(px, 40, 5, 10), kGrey);
    EXPECT_EQ(PixelAt(px, 40, 35, 10), kGrey);
}

TEST_F(OffscreenRender, ResKeyTakesTheImageFromTheProgramsResources) {
    // The orange tip icon (24 x 24) drawn unscaled in the middle of 30 x 30.
    auto px = RenderImage(L"res='KVTEST_TIP' restype='PNG' stretch='false' center='true'");
    const uint32_t left = PixelAt(px, 30, 8, 15);
    EXPECT_GT((left >> 16) & 0xFF, 0xE0u) << std::hex << left;  // strong red channel: orange
    EXPECT_LT(left & 0xFF, 0x60u);
    EXPECT_EQ(PixelAt(px, 30, 1, 1), kGrey);
    px = RenderImage(L"res='NO_SUCH_IMAGE'");
    EXPECT_EQ(PixelAt(px, 30, 15, 15), kGrey);
}

TEST_F(OffscreenRender, ButtonDropsAStateImageThatCannotBeDrawn) {
    auto* button = new CButtonUI;
    button->SetNormalImage(L"missing.png");
    Render(button, 30, 30);
    EXPECT_TRUE(button->GetNormalImage().empty());
}

// Boxes for missing glyphs would all look alike; real glyphs differ.
TEST_F(OffscreenRender, ChineseTextRendersAsDistinctGlyphs) {
    manager_.AddFont(L"微软雅黑", 12, false, false, false);
    auto render = [this](const wchar_t* text) {
        auto* label = new CLabelUI;
        label->SetText(text);
        label->SetFont(0);
        label->SetTextColor(0xFF000000);
        return Render(label, 40, 20);
    };
    const auto a = render(L"安"), b = render(L"装");
    int dark = 0;
    for (uint32_t p : a) dark += (p & 0xFFFFFF) < 0x404040;
    EXPECT_GT(dark, 5);
    EXPECT_NE(a, b);
}

// A wrapped text longer than its label starts at the label's top and draws
// nothing below it (the message box's buttons sit there).
TEST_F(OffscreenRender, WrappedTextStaysInsideItsLabel) {
    manager_.AddFont(L"微软雅黑", 12, false, false, false);
    auto* label = new CLabelUI;
    label->SetAttribute(L"multiline", L"true");
    label->SetAttribute(L"textpadding", L"0,0,0,40");  // text in the top 20 rows
    label->SetText(L"安装安装安装安装安装安装安装安装安装安装");
    label->SetFont(0);
    label->SetTextColor(0xFF000000);
    const int w = 40, h = 60;
    const auto px = Render(label, w, h);
    int darkInside = 0, drawnBelow = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t p = px[y * w + x] & 0xFFFFFF;
            if (y < 20) darkInside += p < 0x404040;
            else drawnBelow += !Near(p, kGrey);
        }
    }
    EXPECT_GT(darkInside, 5);
    EXPECT_EQ(drawnBelow, 0);
}

TEST(Progress, ValueOutsideTheRangeIsIgnored) {
    CProgressUI progress;
    progress.SetValue(50);
    EXPECT_EQ(progress.GetValue(), 50);
    progress.SetValue(101);
    EXPECT_EQ(progress.GetValue(), 50);
    progress.SetValue(-1);
    EXPECT_EQ(progress.GetValue(), 50);
    progress.SetMaxValue(500);
    progress.SetValue(500);
    EXPECT_EQ(progress.GetValue(), 500);
}
