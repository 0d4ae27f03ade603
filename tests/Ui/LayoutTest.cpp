#include <gtest/gtest.h>

#include <random>

#include "Runtime/Handles.h"
#include "Ui/ButtonUI.h"
#include "Ui/ContainerUI.h"
#include "Ui/DialogBuilder.h"
#include "Ui/LabelUI.h"
#include "Ui/OptionUI.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"
#include "Ui/SkinPackage.h"
#include "Ui/TabLayoutUI.h"
#include "UiTestSupport.h"
#include "support/GuardedBuffer.h"

namespace {

void ExpectRect(const CControlUI* c, LONG l, LONG t, LONG r, LONG b) {
    ASSERT_NE(c, nullptr);
    const RECT& rc = c->GetPos();
    EXPECT_EQ(rc.left, l) << "left of " << std::string(c->GetName().begin(), c->GetName().end());
    EXPECT_EQ(rc.top, t) << "top";
    EXPECT_EQ(rc.right, r) << "right";
    EXPECT_EQ(rc.bottom, b) << "bottom";
}

class Recorder : public INotifyUI {
public:
    void Notify(TNotifyUI& msg) override { events.push_back(msg); }
    std::vector<TNotifyUI> events;
};

// Builds a skin of the program's package without a window.
class SkinLayout : public ::testing::Test {
protected:
    bool Load(const wchar_t* skin) {
        CSkinPackage::Instance().Close();  // back to the program's own package
        CDialogBuilder builder;
        if (!manager.AttachDialog(builder.Create(skin, nullptr, &manager))) return false;
        manager.AddNotifier(&recorder);
        manager.LayoutIfNeeded();
        return true;
    }
    CControlUI* Find(const wchar_t* name) { return manager.FindControl(name); }
    CContainerUI* Page(int i) {
        return static_cast<CContainerUI*>(static_cast<CTabLayoutUI*>(Find(L"tb_main"))->GetItemAt(i));
    }
    CPaintManagerUI manager;
    Recorder recorder;
};

}  // namespace

TEST_F(SkinLayout, InstallerWindowSettingsAndFonts) {
    ASSERT_TRUE(Load(L"InstallPackages.xml"));
    EXPECT_EQ(manager.initSize.cx, 540);
    EXPECT_EQ(manager.initSize.cy, 355);
    EXPECT_EQ(manager.minInfo.cx, 540);
    EXPECT_EQ(manager.caption.bottom, 100);
    EXPECT_EQ(manager.roundCorner.cx, 2);
    EXPECT_TRUE(manager.shadow);
    EXPECT_FALSE(manager.bkTrans);
    EXPECT_EQ(manager.shadowImage, L"shadow.png");
    EXPECT_EQ(manager.GetFontCount(), 9u);
    EXPECT_EQ(std::wstring(manager.GetRoot()->GetClass()), L"ContainerUI");
}

TEST_F(SkinLayout, WelcomePageFillsWithTheHeroAndPlacesFloatingControls) {
    ASSERT_TRUE(Load(L"InstallPackages.xml"));
    auto* tab = static_cast<CTabLayoutUI*>(Find(L"tb_main"));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->GetCount(), 3);
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_FALSE(Page(1)->IsVisible());
    ExpectRect(Page(0)->GetItemAt(0), 0, 0, 540, 313);
    ExpectRect(Page(0)->GetItemAt(1), 0, 313, 540, 355);
    ExpectRect(Find(L"btn_install"), 177, 237, 361, 281);
    ExpectRect(Find(L"opt_agree"), 13, 323, 133, 347);
    ExpectRect(Find(L"btn_agreement"), 65, 328, 215, 343);
    ExpectRect(Find(L"btn_free"), 385, 327, 525, 344);
    ExpectRect(Find(L"VerticalLayoutUI2"), 0, 0, 540, 33);
    ExpectRect(Find(L"btn_min"), 480, 0, 510, 30);
    ExpectRect(Find(L"btn_close"), 510, 0, 540, 30);
    EXPECT_TRUE(static_cast<COptionUI*>(Find(L"opt_agree"))->IsSelected());
    EXPECT_EQ(Find(L"btn_close")->GetToolTip(), L"关闭");
}

TEST_F(SkinLayout, SelectingPagesLaysThemOutAndNotifies) {
    ASSERT_TRUE(Load(L"InstallPackages.xml"));
    auto* tab = static_cast<CTabLayoutUI*>(Find(L"tb_main"));
    ASSERT_TRUE(tab->SelectItem(1));
    manager.LayoutIfNeeded();
    EXPECT_FALSE(Page(0)->IsVisible());
    ExpectRect(Page(1)->GetItemAt(0), 0, 0, 540, 245);
    ExpectRect(Page(1)->GetItemAt(1), 0, 245, 540, 355);
    ExpectRect(Find(L"edit_input"), 36, 280, 423, 309);
    ExpectRect(Find(L"btn_select"), 421, 280, 505, 309);
    ExpectRect(Find(L"lb_leftspace"), 273, 323, 333, 342);
    ExpectRect(Find(L"btn_install2"), 407, 318, 507, 346);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].sType, L"tabselect");
    EXPECT_EQ(recorder.events[0].wParam, 1u);
    EXPECT_EQ(recorder.events[0].lParam, 0);

    ASSERT_TRUE(tab->SelectItem(2));
    manager.LayoutIfNeeded();
    ExpectRect(Page(2)->GetItemAt(0), 0, 0, 540, 301);
    ExpectRect(Page(2)->GetItemAt(1), 0, 301, 540, 355);
    ExpectRect(Find(L"pro_InstallProgress"), 18, 303, 518, 333);
    ExpectRect(Find(L"lb_download"), 18, 329, 168, 349);
    ExpectRect(Find(L"lb_speed"), 300, 329, 518, 349);

    recorder.events.clear();
    EXPECT_TRUE(tab->SelectItem(2));  // already shown: nothing else happens
    EXPECT_FALSE(tab->SelectItem(3));
    EXPECT_FALSE(tab->SelectItem(-1));
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(tab->GetCurSel(), 2);
}

// Pages added by code after the layout is attached: still one page at a time.
TEST(TabLayout, PagesAddedLaterStartHidden) {
    CPaintManagerUI manager;
    auto* tab = new CTabLayoutUI;
    manager.AttachDialog(tab);
    manager.initSize = {100, 50};
    auto* first = new CControlUI;
    auto* second = new CControlUI;
    ASSERT_TRUE(tab->Add(first));
    ASSERT_TRUE(tab->Add(second));
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_TRUE(first->IsVisible());
    EXPECT_FALSE(second->IsVisible());
    manager.LayoutIfNeeded();
    ExpectRect(first, 0, 0, 100, 50);
    ExpectRect(second, 0, 0, 0, 0);  // never placed
    auto* third = new CControlUI;
    ASSERT_TRUE(tab->SelectItem(1));
    ASSERT_TRUE(tab->Add(third));
    EXPECT_FALSE(third->IsVisible());
    EXPECT_TRUE(second->IsVisible());
    EXPECT_FALSE(first->IsVisible());
}

TEST_F(SkinLayout, MessageBoxRows) {
    ASSERT_TRUE(Load(L"MessageBox.xml"));
    EXPECT_EQ(manager.initSize.cx, 280);
    EXPECT_EQ(manager.caption.bottom, 35);
    auto* root = static_cast<CContainerUI*>(manager.GetRoot());
    ExpectRect(root->GetItemAt(0), 0, 0, 280, 30);
    auto* body = static_cast<CContainerUI*>(root->GetItemAt(1));
    ExpectRect(body, 0, 30, 280, 115);
    ExpectRect(body->GetItemAt(0), 0, 30, 280, 38);
    ExpectRect(body->GetItemAt(1), 0, 38, 280, 71);
    ExpectRect(body->GetItemAt(2), 0, 71, 280, 115);
    ExpectRect(Find(L"lb_title"), 5, 5, 258, 27);
    ExpectRect(Find(L"btn_close"), 250, 0, 280, 30);
    ExpectRect(Find(L"ctl_tip_icon"), 20, 38, 49, 71);
    ExpectRect(Find(L"lb_text"), 59, 38, 270, 71);
    ExpectRect(Find(L"hlt_left_space"), 0, 81, 140, 106);  // inside the row's inset
    ExpectRect(Find(L"btn_ok"), 140, 81, 200, 106);
    ExpectRect(Find(L"btn_cancel"), 210, 81, 270, 106);
    EXPECT_EQ(Find(L"lb_text")->GetText(), L"是否退出安装？");
}

// The earlier-installation question was cut off at the box's right edge:
// the box's text wraps, at the comma, and every box text fits the label.
TEST_F(SkinLayout, MessageBoxTextWrapsInsideTheBox) {
    ASSERT_TRUE(Load(L"MessageBox.xml"));
    auto* label = static_cast<CLabelUI*>(Find(L"lb_text"));
    ASSERT_NE(label, nullptr);
    EXPECT_NE(label->GetTextStyle() & DT_WORDBREAK, 0u);
    const RECT rc = label->GetPos();
    const int width = rc.right - rc.left;
    kv::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    ::SelectObject(dc.get(), manager.GetFont(label->GetFont()));
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc.get(), &tm);
    const std::wstring question = L"您已经安装了KorvelQixar，是否覆盖安装？";
    SIZE whole{};
    ::GetTextExtentPoint32W(dc.get(), question.c_str(), static_cast<int>(question.size()), &whole);
    EXPECT_GT(whole.cx, width);  // too long for one line in this box
    const auto lines = CRenderEngine::WrapText(dc.get(), question, width);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"您已经安装了KorvelQixar，");
    EXPECT_EQ(lines[1], L"是否覆盖安装？");
    for (const std::wstring& text : {question, std::wstring(L"是否退出安装？"), std::wstring(L"未勾选“同意软件许可协议”。"),
                                     std::wstring(L"您选择的安装路径无效，请重新选择。"),
                                     std::wstring(L"安装失败，请检查网络后重试！(3,-1)"),
                                     std::wstring(L"安装失败，请检查网络后重试(-1,-2147012889)")}) {
        const auto wrapped = CRenderEngine::WrapText(dc.get(), text, width);
        std::wstring joined;
        for (const std::wstring& line : wrapped) {
            SIZE extent{};
            ::GetTextExtentPoint32W(dc.get(), line.c_str(), static_cast<int>(line.size()), &extent);
            EXPECT_LE(extent.cx, width) << std::string(line.begin(), line.end());
            joined += line;
        }
        EXPECT_EQ(joined, text);
        EXPECT_LE(tm.tmHeight * static_cast<LONG>(wrapped.size()), rc.bottom - rc.top) << wrapped.size() << " lines";
    }
    // A word wider than the line is cut where the width ends, not lost.
    EXPECT_EQ(CRenderEngine::WrapText(dc.get(), L"abcdefgh", 1).size(), 8u);
}

TEST_F(SkinLayout, HiddenChildTakesNoRoomAndEstimatesUseTheFont) {
    ASSERT_TRUE(Load(L"MessageBox.xml"));
    Find(L"hlt_btn_0")->SetVisible(false);
    manager.LayoutIfNeeded();
    ExpectRect(Find(L"hlt_left_space"), 0, 81, 210, 106);
    ExpectRect(Find(L"btn_ok"), 210, 81, 270, 106);
    // A label without a height in a vertical layout asks for its font's height + 4.
    const int fontHeight = manager.GetFontHeight(-1);
    EXPECT_GT(fontHeight, 0);
    CLabelUI label;
    label.SetManager(&manager, nullptr);
    EXPECT_EQ(label.EstimateSize().cy, fontHeight + 4);
    CButtonUI button;
    button.SetManager(&manager, nullptr);
    EXPECT_EQ(button.EstimateSize().cy, fontHeight + 8);
}

TEST(DialogBuilder, MalformedMarkupAndUnknownElementsAreLoggedNotFatal) {
    LogCapture log;
    CPaintManagerUI manager;
    CDialogBuilder builder;
    const std::string broken = "<Window size='10,10'><Container><Label></Container>";
    EXPECT_EQ(builder.CreateFromBuffer(reinterpret_cast<const uint8_t*>(broken.data()), broken.size(), nullptr,
                                       &manager),
              nullptr);
    EXPECT_NE(log.Text().find(L"markup error"), std::wstring::npos);

    const std::string unknown =
        "\xEF\xBB\xBF<Window size='10,10'><!-- c --><VerticalLayout><Gadget name='g'><Label name='inner'/></Gadget>"
        "<Label name='kept' text='\xE5\xAE\x89'/></VerticalLayout></Window>";
    CControlUI* root =
        builder.CreateFromBuffer(reinterpret_cast<const uint8_t*>(unknown.data()), unknown.size(), nullptr, &manager);
    ASSERT_NE(root, nullptr);
    manager.AttachDialog(root);
    EXPECT_EQ(manager.FindControl(L"g"), nullptr);
    EXPECT_EQ(manager.FindControl(L"inner"), nullptr);
    ASSERT_NE(manager.FindControl(L"kept"), nullptr);
    EXPECT_EQ(manager.FindControl(L"kept")->GetText(), L"安");
    EXPECT_NE(log.Text().find(L"unknown element <Gadget>"), std::wstring::npos);

    const std::string notWindow = "<Dialog/>";
    EXPECT_EQ(builder.CreateFromBuffer(reinterpret_cast<const uint8_t*>(notWindow.data()), notWindow.size(), nullptr,
                                       &manager),
              nullptr);
    EXPECT_EQ(builder.Create(L"NoSuchSkin.xml", nullptr, &manager), nullptr);
}

// Damaged markup must never crash the builder or the layout, nor read past
// its end (it is read from a guarded buffer).
TEST(DialogBuilder, RandomlyDamagedSkinBuildsOrFailsCleanly) {
    CSkinPackage::Instance().Close();
    std::vector<uint8_t> markup;
    ASSERT_TRUE(CSkinPackage::Instance().ReadFile(L"InstallPackages.xml", markup));
    GuardedBuffer guard(markup.size());
    ASSERT_TRUE(guard.Ready());
    std::mt19937 rng(5150);
    int built = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes = markup;
        const int flips = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < flips; ++i) {
            const size_t at = rng() % bytes.size();
            // Digits and separators are the interesting damage for attribute values.
            static const char kPool[] = "0123456789,-#'\"<>= x";
            bytes[at] = static_cast<uint8_t>(kPool[rng() % (sizeof(kPool) - 1)]);
        }
        CPaintManagerUI manager;
        CDialogBuilder builder;
        if (manager.AttachDialog(builder.CreateFromBuffer(guard.Place(bytes), bytes.size(), nullptr, &manager))) {
            ++built;
            manager.initSize = {540, 355};
            manager.LayoutIfNeeded();
        }
        ASSERT_EQ(guard.Traps(), 0) << "read past the markup in round " << round;
    }
    EXPECT_GT(built, 0);
}
