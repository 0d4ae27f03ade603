#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Ui/FontFallback.h"
#include "Ui/ImageDescription.h"
#include "Ui/LabelUI.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/StackLayout.h"

TEST(MarkupValues, ReadsTheValueKinds) {
    RECT rc{};
    ASSERT_TRUE(markup::ParseRect(L"177,237,0,0", rc));
    EXPECT_EQ(rc.left, 177);
    EXPECT_EQ(rc.top, 237);
    ASSERT_TRUE(markup::ParseRect(L"-5, 4 ,5,-6", rc));
    EXPECT_EQ(rc.left, -5);
    EXPECT_EQ(rc.bottom, -6);
    SIZE sz{};
    ASSERT_TRUE(markup::ParseSize(L"540,355", sz));
    EXPECT_EQ(sz.cx, 540);
    EXPECT_EQ(sz.cy, 355);
    uint32_t c = 0;
    ASSERT_TRUE(markup::ParseColor(L"#ff00396a", c));
    EXPECT_EQ(c, 0xff00396au);
    ASSERT_TRUE(markup::ParseColor(L"00C0C0C0", c));
    EXPECT_EQ(c, 0x00C0C0C0u);
    EXPECT_TRUE(markup::ParseBool(L"true"));
    EXPECT_FALSE(markup::ParseBool(L"TRUE"));
    EXPECT_FALSE(markup::ParseBool(L"1"));
}

TEST(MarkupValues, MalformedValuesLeaveTheOutputAlone) {
    RECT rc{1, 2, 3, 4};
    EXPECT_FALSE(markup::ParseRect(L"1,2,3", rc));
    EXPECT_FALSE(markup::ParseRect(L"1,2,3,4,5", rc));
    EXPECT_FALSE(markup::ParseRect(L"a,2,3,4", rc));
    EXPECT_FALSE(markup::ParseRect(L"99999999999,2,3,4", rc));
    EXPECT_FALSE(markup::ParseRect(L"1000001,2,3,4", rc));
    EXPECT_EQ(rc.left, 1);
    EXPECT_EQ(rc.bottom, 4);
    uint32_t c = 7;
    EXPECT_FALSE(markup::ParseColor(L"#", c));
    EXPECT_FALSE(markup::ParseColor(L"#123456789", c));
    EXPECT_FALSE(markup::ParseColor(L"#12g4", c));
    EXPECT_EQ(c, 7u);
    int n = 3;
    EXPECT_FALSE(markup::ParseInt(L"", n));
    EXPECT_EQ(n, 3);
}

// "align" works by the words it contains, in the order left, center, right.
TEST(MarkupValues, AlignWords) {
    auto style = [](const wchar_t* align) {
        CLabelUI label;
        label.SetAttribute(L"align", align);
        return label.GetTextStyle();
    };
    EXPECT_EQ(style(L"left") & (DT_CENTER | DT_RIGHT | DT_VCENTER), 0u);  // starts at the top
    EXPECT_EQ(style(L"center"), static_cast<UINT>(DT_CENTER | DT_VCENTER));
    EXPECT_EQ(style(L"right") & (DT_CENTER | DT_VCENTER), 0u);
    EXPECT_NE(style(L"right") & DT_RIGHT, 0u);
    // "vcenter" holds the letters of "center" but is its own word.
    EXPECT_EQ(style(L"center vcenter"), static_cast<UINT>(DT_CENTER | DT_VCENTER));
    EXPECT_EQ(style(L"left vcenter"), static_cast<UINT>(DT_LEFT | DT_VCENTER));
}

TEST(ImageDescription, BareFileNameIsTheWholeDescription) {
    const auto items = CImageDescription::Parse(L"install_0.png");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, L"install_0.png");
    EXPECT_FALSE(items[0].settings.hasDest);
    EXPECT_TRUE(items[0].settings.stretch);
}

TEST(ImageDescription, ReadsKeysOfTheSkins) {
    auto items = CImageDescription::Parse(L"file='opt_000.png' dest='0,4,16,20'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, L"opt_000.png");
    EXPECT_TRUE(items[0].settings.hasDest);
    EXPECT_EQ(items[0].settings.dest.top, 4);
    EXPECT_EQ(items[0].settings.dest.right, 16);

    items = CImageDescription::Parse(L"file='install_1.png' source='5,5,189,49'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].settings.source.right, 189);

    items = CImageDescription::Parse(L"file='common_tip_icon.png' stretch='false' center='true'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].settings.stretch);
    EXPECT_TRUE(items[0].settings.center);

    items = CImageDescription::Parse(L"file='a.png' corner='3,3,3,3' hole='true' fade='128' mask='#ff00ff' "
                                     L"xtiled='true' unknown='1'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].settings.corner.left, 3);
    EXPECT_TRUE(items[0].settings.hole);
    EXPECT_EQ(items[0].settings.fade, 128);
    EXPECT_EQ(items[0].settings.mask, 0xFFFF00FFu);
    EXPECT_TRUE(items[0].settings.xtiled);
}

// A second file draws the first with the settings read so far; settings
// carry over to later images.
TEST(ImageDescription, SeveralFilesDrawInOrderWithRunningSettings) {
    const auto items = CImageDescription::Parse(
        L"file='progress_bk.png' dest='0,0,500,30' \t\t\t   file='progress_fore.png' corner='0,10,110,10' "
        L"dest='0,0,250,30'");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, L"progress_bk.png");
    EXPECT_EQ(items[0].settings.dest.right, 500);
    EXPECT_EQ(items[0].settings.corner.right, 0);
    EXPECT_EQ(items[1].name, L"progress_fore.png");
    EXPECT_EQ(items[1].settings.dest.right, 250);
    EXPECT_EQ(items[1].settings.corner.right, 110);
}

TEST(ImageDescription, ModifierReplacesTheImageWithoutDrawingIt) {
    const auto items = CImageDescription::Parse(L"file='a.png' dest='0,0,5,5'", L"file='b.png' fade='10'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, L"b.png");
    EXPECT_EQ(items[0].settings.dest.right, 5);
    EXPECT_EQ(items[0].settings.fade, 10);
}

TEST(ImageDescription, BrokenItemEndsTheReadingAndEmptyValuesAreSkipped) {
    auto items = CImageDescription::Parse(L"file='a.png' dest=0,0,5,5 file='b.png'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, L"a.png");
    EXPECT_FALSE(items[0].settings.hasDest);

    items = CImageDescription::Parse(L"file='a.png'dest='0,0,5,5'");  // no blank after the quote
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].settings.hasDest);

    items = CImageDescription::Parse(L"file='' dest='1,1,2,2'");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, L"file='' dest='1,1,2,2'");  // no file given: the whole text stays the name

    items = CImageDescription::Parse(L"file='a.png' dest='0,0");  // unterminated value
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].settings.hasDest);
    EXPECT_TRUE(CImageDescription::Parse(L"").empty());
}

TEST(StackLayout, FixedExtentsKeepTheirSizeAndZerosShareTheRest) {
    EXPECT_EQ(layout::DistributeExtents({0, 42}, 355), (std::vector<int>{313, 42}));
    EXPECT_EQ(layout::DistributeExtents({0, 0, 0}, 100), (std::vector<int>{33, 33, 34}));
    EXPECT_EQ(layout::DistributeExtents({0, 200, 0}, 150), (std::vector<int>{0, 200, 0}));
    EXPECT_EQ(layout::DistributeExtents({}, 100), (std::vector<int>{}));
}

namespace {
bool AcceptsLinuxAndSimSun(const std::wstring& face) { return face == L"WenQuanYi Micro Hei" || face == L"SimSun"; }
bool AcceptsNone(const std::wstring&) { return false; }

// True when every character of `text` has a glyph in `font`.
bool HasGlyphs(HFONT font, const std::wstring& text, std::wstring* face) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    wchar_t name[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, name);
    *face = name;
    std::vector<WORD> glyphs(text.size());
    const DWORD n = ::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                                       GGI_MARK_NONEXISTING_GLYPHS);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    if (n != text.size()) return false;
    for (WORD g : glyphs) {
        if (g == 0xFFFF) return false;
    }
    return true;
}
}  // namespace

// A markup face that is not installed would draw Chinese as empty boxes; the
// first installed CJK face (Windows' own before the Linux ones) stands in.
// Run also in a Wine prefix without the project's font mapping, where the
// skins' own "宋体" and "微软雅黑" are missing.
TEST(FontFallback, MissingFaceDrawsChineseWithAnInstalledCjkFace) {
    EXPECT_EQ(CFontFallback::ChooseFace(&AcceptsLinuxAndSimSun), L"SimSun");
    EXPECT_EQ(CFontFallback::ChooseFace(&AcceptsNone), L"");
    EXPECT_FALSE(CFontFallback::IsInstalled(L"KvNoSuchFace"));

    CPaintManagerUI manager;
    const int missing = manager.AddFont(L"KvNoSuchFace", 12, false, false, false);
    const int skin0 = manager.AddFont(L"宋体", 12, false, false, false);
    const int skin1 = manager.AddFont(L"微软雅黑", 12, false, false, false);
    std::wstring face;
    EXPECT_TRUE(HasGlyphs(manager.GetFont(missing), L"同意退出安装", &face)) << face;
    EXPECT_NE(face, L"KvNoSuchFace");
    EXPECT_TRUE(HasGlyphs(manager.GetFont(skin0), L"同意退出安装", &face)) << face;
    EXPECT_TRUE(HasGlyphs(manager.GetFont(skin1), L"安装目录可用磁盘空间", &face)) << face;
}
