#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "support/MessagePump.h"
#include "Ui/AccessibleEvents.h"
#include "Ui/AccessibleIds.h"
#include "Ui/AccessibleInfo.h"
#include "Ui/EditUI.h"
#include "Ui/OptionUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/TabLayoutUI.h"
#include "TestWindow.h"

namespace {

// The states a reader is told about; hover and press depend on the mouse.
constexpr LONG kStates = STATE_SYSTEM_FOCUSED | STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE |
                         STATE_SYSTEM_CHECKED | STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN |
                         STATE_SYSTEM_READONLY | STATE_SYSTEM_LINKED;
constexpr LONG kButton = STATE_SYSTEM_FOCUSABLE;
constexpr LONG kText = STATE_SYSTEM_READONLY;

struct Child {
    std::wstring name;
    LONG role;
    LONG state;
    std::wstring value;
    std::wstring control;  // markup name, for the location check ("" to skip)
};

VARIANT Id(LONG id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring Text(BSTR b) {
    std::wstring s = b ? std::wstring(b, ::SysStringLen(b)) : L"";
    ::SysFreeString(b);
    return s;
}

// A window of one of the skins and its accessible object, asked for as a
// reader asks: WM_GETOBJECT, then ObjectFromLresult.
class AccessibleTest : public ::testing::Test {
protected:
    void SetUp() override { ::CoInitialize(nullptr); }
    void TearDown() override {
        if (acc_) acc_->Release();
        ::CoUninitialize();
    }
    IAccessible* Open(TestWindow& w) {
        const LRESULT r = ::SendMessageW(w, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
        EXPECT_GT(r, 0);
        EXPECT_EQ(::ObjectFromLresult(r, kv::kIidAccessible, 0, reinterpret_cast<void**>(&acc_)), S_OK);
        return acc_;
    }
    std::vector<LONG> ChildIds() {
        LONG count = 0;
        EXPECT_EQ(acc_->get_accChildCount(&count), S_OK);
        std::vector<VARIANT> kids(static_cast<size_t>(count) + 1);
        LONG got = 0;
        EXPECT_TRUE(SUCCEEDED(::AccessibleChildren(acc_, 0, count, kids.data(), &got)));
        std::vector<LONG> ids;
        for (LONG i = 0; i < got; ++i) ids.push_back(kids[static_cast<size_t>(i)].lVal);
        return ids;
    }
    std::wstring Name(LONG id) {
        BSTR b = nullptr;
        acc_->get_accName(Id(id), &b);
        return Text(b);
    }
    LONG Long(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), LONG id) {
        VARIANT v;
        ::VariantInit(&v);
        EXPECT_EQ((acc_->*get)(Id(id), &v), S_OK);
        return v.vt == VT_I4 ? v.lVal : -1;
    }
    LONG IdOf(const std::wstring& name) {
        for (LONG id : ChildIds()) {
            if (Name(id) == name) return id;
        }
        return -1;
    }
    // The children in order, each with its role, states, value and screen
    // rectangle (the control's client rectangle mapped by the system).
    void ExpectTree(TestWindow& w, const std::vector<Child>& expected) {
        const std::vector<LONG> ids = ChildIds();
        ASSERT_EQ(ids.size(), expected.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            const Child& e = expected[i];
            SCOPED_TRACE(e.name);
            EXPECT_EQ(ids[i], static_cast<LONG>(i + 1));  // asked for by index, the same child
            EXPECT_EQ(Name(ids[i]), e.name);
            EXPECT_EQ(Long(&IAccessible::get_accRole, ids[i]), e.role);
            EXPECT_EQ(Long(&IAccessible::get_accState, ids[i]) & kStates, e.state);
            BSTR value = nullptr;
            acc_->get_accValue(Id(ids[i]), &value);
            EXPECT_EQ(Text(value), e.value);
            if (e.control.empty()) continue;
            RECT rc = w.FindControl(e.control)->GetPos();
            ::MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&rc), 2);
            LONG x = 0, y = 0, cx = 0, cy = 0;
            EXPECT_EQ(acc_->accLocation(&x, &y, &cx, &cy, Id(ids[i])), S_OK);
            const RECT got{x, y, x + cx, y + cy};
            EXPECT_TRUE(::EqualRect(&got, &rc)) << got.left << "," << got.top << " " << cx << "x" << cy;
        }
    }

    IAccessible* acc_ = nullptr;
};

}  // namespace

// Each page of the installer skin lists its shown controls in Tab order
// (caption buttons last) with names from text or accname, roles, states,
// values and locations; the window itself has the title.
TEST_F(AccessibleTest, PagesOfTheInstallerSkin) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    ASSERT_NE(Open(w), nullptr);
    EXPECT_EQ(Name(CHILDID_SELF), L"ui test");
    EXPECT_EQ(Long(&IAccessible::get_accRole, CHILDID_SELF), ROLE_SYSTEM_CLIENT);
    const Child minimise{L"最小化", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_min"};
    const Child close{L"关闭", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_close"};
    ExpectTree(w, {{L"立即安装", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_install"},
                   {L"同意", ROLE_SYSTEM_CHECKBUTTON, kButton | STATE_SYSTEM_CHECKED, L"", L"opt_agree"},
                   {L"用户许可协议", ROLE_SYSTEM_LINK, kButton | STATE_SYSTEM_LINKED, L"", L"btn_agreement"},
                   {L"自定义安装", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_free"},
                   minimise,
                   close});
    const LONG install = IdOf(L"立即安装");

    auto* tab = w.FindControlAs<CTabLayoutUI>(L"tb_main");
    tab->SelectItem(1);
    w.FindControl(L"edit_input")->SetText(L"D:\\Korvel网络\\KorvelQixar");
    w.FindControl(L"btn_install2")->SetEnabled(false);
    ExpectTree(w, {{L"安装目录", ROLE_SYSTEM_STATICTEXT, kText, L"", L""},
                   {L"安装目录", ROLE_SYSTEM_TEXT, kButton, L"D:\\Korvel网络\\KorvelQixar", L"edit_input"},
                   {L"浏览", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_select"},
                   {L"所需磁盘空间：120MB", ROLE_SYSTEM_STATICTEXT, kText, L"", L""},
                   {L"可用磁盘空间：", ROLE_SYSTEM_STATICTEXT, kText, L"", L""},
                   {L"立即安装", ROLE_SYSTEM_PUSHBUTTON, kButton | STATE_SYSTEM_UNAVAILABLE, L"", L"btn_install2"},
                   minimise,
                   close});
    // Ids number the page shown: the welcome page's first child is gone.
    EXPECT_EQ(Name(install), L"安装目录");

    tab->SelectItem(2);
    w.FindControlAs<CProgressUI>(L"pro_InstallProgress")->SetValue(37);
    ExpectTree(w, {{L"安装进度", ROLE_SYSTEM_PROGRESSBAR, kText, L"37%", L"pro_InstallProgress"},
                   {L"下载中", ROLE_SYSTEM_STATICTEXT, kText, L"", L"lb_download"},
                   minimise,
                   close});
    // A label gets listed once it has something to say.
    w.FindControl(L"lb_speed")->SetText(L"剩余10MB @ 1MB/s");
    EXPECT_EQ(ChildIds().size(), 5u);
    EXPECT_EQ(Name(ChildIds()[2]), L"剩余10MB @ 1MB/s");
}

TEST_F(AccessibleTest, MessageBoxIsADialogWithItsTextAndButtons) {
    TestWindow box(L"MessageBox.xml");
    ASSERT_TRUE(box.Open());
    ASSERT_NE(Open(box), nullptr);
    EXPECT_EQ(Long(&IAccessible::get_accRole, CHILDID_SELF), ROLE_SYSTEM_DIALOG);
    ExpectTree(box, {{L"退出安装", ROLE_SYSTEM_STATICTEXT, kText, L"", L"lb_title"},
                     {L"关闭", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_close"},
                     {L"是否退出安装？", ROLE_SYSTEM_STATICTEXT, kText, L"", L"lb_text"},
                     {L"确定", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_ok"},
                     {L"取消", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_cancel"}});
    // The notice form: close and cancel hidden, only OK left.
    box.FindControl(L"btn_close")->SetVisible(false);
    box.FindControl(L"hlt_btn_0")->SetVisible(false);
    box.GetPaintManager().LayoutIfNeeded();
    ExpectTree(box, {{L"退出安装", ROLE_SYSTEM_STATICTEXT, kText, L"", L"lb_title"},
                     {L"是否退出安装？", ROLE_SYSTEM_STATICTEXT, kText, L"", L"lb_text"},
                     {L"确定", ROLE_SYSTEM_PUSHBUTTON, kButton, L"", L"btn_ok"}});
}

// The default action is a click, carried out once the call has returned
// (a click may open a modal box); refused where a click would do nothing.
TEST_F(AccessibleTest, DefaultActionIsAClickDoneAfterTheCall) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    ASSERT_NE(Open(w), nullptr);
    auto* agree = w.FindControlAs<COptionUI>(L"opt_agree");
    const LONG option = IdOf(L"同意");
    BSTR action = nullptr;
    acc_->get_accDefaultAction(Id(option), &action);
    EXPECT_EQ(Text(action), L"取消选中");
    EXPECT_EQ(acc_->accDoDefaultAction(Id(option)), S_OK);
    EXPECT_TRUE(agree->IsSelected());  // not yet
    DispatchPendingMessages();
    EXPECT_FALSE(agree->IsSelected());
    EXPECT_EQ(w.Count(L"click", L"opt_agree"), 1);
    EXPECT_EQ(Long(&IAccessible::get_accState, option) & STATE_SYSTEM_CHECKED, 0);
    // Like a mouse click it focuses the control, without the keyboard's mark.
    EXPECT_EQ(w.GetPaintManager().GetFocus(), agree);
    EXPECT_FALSE(w.GetPaintManager().IsKeyboardFocus());

    const LONG install = IdOf(L"立即安装");
    w.FindControl(L"btn_install")->SetEnabled(false);
    EXPECT_EQ(acc_->accDoDefaultAction(Id(install)), E_FAIL);
    w.FindControl(L"btn_install")->SetEnabled(true);
    // A disabled window (the owner of a modal box) takes no click.
    ::EnableWindow(w, FALSE);
    EXPECT_EQ(acc_->accDoDefaultAction(Id(install)), E_FAIL);
    EXPECT_NE(Long(&IAccessible::get_accState, install) & STATE_SYSTEM_UNAVAILABLE, 0);
    ::EnableWindow(w, TRUE);
    EXPECT_EQ(acc_->accDoDefaultAction(Id(install)), S_OK);
    // Hidden before the posted click arrives: nothing happens.
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(2);
    DispatchPendingMessages();
    EXPECT_EQ(w.Count(L"click", L"btn_install"), 0);
    EXPECT_EQ(acc_->accDoDefaultAction(Id(IdOf(L"下载中"))), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(acc_->accDoDefaultAction(Id(9999)), E_INVALIDARG);
}

// accFocus follows the keyboard, accSelect gives the focus as Tab does,
// and accHitTest finds what the mouse finds.
TEST_F(AccessibleTest, FocusAndHitTestAgreeWithKeyboardAndMouse) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    ::SetFocus(w);
    ASSERT_NE(Open(w), nullptr);
    VARIANT v;
    EXPECT_EQ(acc_->get_accFocus(&v), S_OK);
    EXPECT_EQ(v.lVal, CHILDID_SELF);
    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    EXPECT_EQ(acc_->get_accFocus(&v), S_OK);
    EXPECT_EQ(v.lVal, IdOf(L"立即安装"));
    EXPECT_NE(Long(&IAccessible::get_accState, v.lVal) & STATE_SYSTEM_FOCUSED, 0);
    EXPECT_EQ(acc_->accSelect(SELFLAG_TAKEFOCUS, Id(IdOf(L"自定义安装"))), S_OK);
    EXPECT_EQ(w.GetPaintManager().GetFocus(), w.FindControl(L"btn_free"));
    EXPECT_TRUE(w.GetPaintManager().IsKeyboardFocus());

    const auto hit = [&](int cx, int cy) {
        POINT pt{cx, cy};
        ::ClientToScreen(w, &pt);
        VARIANT r;
        ::VariantInit(&r);
        const HRESULT hr = acc_->accHitTest(pt.x, pt.y, &r);
        return hr == S_OK && r.vt == VT_I4 ? r.lVal : -1;
    };
    EXPECT_EQ(hit(269, 259), IdOf(L"立即安装"));
    EXPECT_EQ(hit(21, 335), IdOf(L"同意"));
    EXPECT_EQ(hit(66, 335), IdOf(L"用户许可协议"));  // where the option and the link overlap, the link is on top
    EXPECT_EQ(hit(525, 15), IdOf(L"关闭"));
    EXPECT_EQ(hit(100, 100), CHILDID_SELF);
    EXPECT_EQ(hit(600, 100), -1);
    // The progress bar lies under its page's label row, which the mouse finds.
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(2);
    EXPECT_EQ(hit(268, 318), IdOf(L"安装进度"));
}

// A reader holding the object after the window is gone gets errors, never
// a call into freed controls.
TEST_F(AccessibleTest, ObjectIsCutOffWhenTheWindowGoes) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    ASSERT_NE(Open(w), nullptr);
    ::DestroyWindow(w);
    LONG count = -1;
    EXPECT_EQ(acc_->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    BSTR name = nullptr;
    EXPECT_EQ(acc_->get_accName(Id(1), &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(acc_->accDoDefaultAction(Id(1)), CO_E_OBJNOTCONNECTED);
}

// Focus moves, page changes and value changes reach readers; a value that
// changes many times a second is told at most once a second, and the last
// change of a burst is told when its second is over.
TEST_F(AccessibleTest, EventsAndTheValueRateLimit) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    ::SetFocus(w);
    CPaintManagerUI& m = w.GetPaintManager();
    std::vector<std::pair<DWORD, LONG>> events;
    DWORD now = 5000;
    m.GetAccessibleEvents().SetSink([&](DWORD e, LONG child) { events.emplace_back(e, child); });
    m.GetAccessibleEvents().SetClock([&] { return now; });

    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::make_pair(DWORD{EVENT_OBJECT_FOCUS}, LONG{1}));  // the page's first child
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(2);
    // The focus falls back to the window, then the children change.
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], std::make_pair(DWORD{EVENT_OBJECT_FOCUS}, LONG{CHILDID_SELF}));
    EXPECT_EQ(events[2], std::make_pair(DWORD{EVENT_OBJECT_REORDER}, LONG{CHILDID_SELF}));
    events.clear();

    auto* bar = w.FindControlAs<CProgressUI>(L"pro_InstallProgress");
    const std::pair<DWORD, LONG> value{EVENT_OBJECT_VALUECHANGE, 1};
    bar->SetValue(1);  // told at once
    for (int v = 2; v <= 10; ++v) {
        now += 100;
        bar->SetValue(v);  // held back
    }
    EXPECT_EQ(events.size(), 1u);
    EXPECT_FALSE(m.GetAccessibleEvents().OnTimer(CAccessibleEvents::kTimerId + 1));
    now += 50;  // a timer that comes early waits for the rest
    EXPECT_TRUE(m.GetAccessibleEvents().OnTimer(CAccessibleEvents::kTimerId));
    EXPECT_EQ(events.size(), 1u);
    now += 50;
    EXPECT_TRUE(m.GetAccessibleEvents().OnTimer(CAccessibleEvents::kTimerId));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], value);
    now += 300;
    bar->SetValue(11);  // within the second of the last one told
    EXPECT_EQ(events.size(), 2u);
    now += 700;
    m.GetAccessibleEvents().OnTimer(CAccessibleEvents::kTimerId);
    EXPECT_EQ(events.size(), 3u);
    now += 5000;
    bar->SetValue(12);  // long after: at once
    bar->SetValue(12);  // no change: nothing
    EXPECT_EQ(events.size(), 4u);
    bar->SetValue(13);  // held back, then its page goes: no id to tell it by
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(0);
    now += 1000;
    m.GetAccessibleEvents().OnTimer(CAccessibleEvents::kTimerId);
    EXPECT_EQ(events.back().first, DWORD{EVENT_OBJECT_REORDER});
    m.GetAccessibleEvents().SetSink(nullptr);
}

// What a reader hears without moving the focus itself: the control that
// keeps the focus when the window gets the keyboard back (a box closed),
// and an option ticked or a button disabled, each as a state change.
TEST_F(AccessibleTest, FocusComingBackAndStateChangesAreTold) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    w.ShowWindow(true);
    ::SetFocus(w);
    CPaintManagerUI& m = w.GetPaintManager();
    std::vector<std::pair<DWORD, LONG>> events;
    m.GetAccessibleEvents().SetSink([&](DWORD e, LONG child) { events.emplace_back(e, child); });
    CControlUI* root = m.GetRoot();
    const auto id = [&](const wchar_t* name) { return CAccessibleInfo::ChildId(root, w.FindControl(name)); };
    const auto told = [&](DWORD e, const wchar_t* name) { return std::make_pair(e, id(name)); };

    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    const HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                         nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    ::SetFocus(other);
    events.clear();
    ::SetFocus(w);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], told(EVENT_OBJECT_FOCUS, L"btn_install"));
    ::DestroyWindow(other);
    // Tab out of the folder's typing box: the box hands the keyboard back to
    // the window on the way, and the next control is still told once.
    auto* tab = w.FindControlAs<CTabLayoutUI>(L"tb_main");
    tab->SelectItem(1);
    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ASSERT_NE(::GetFocus(), static_cast<HWND>(w));  // the native box has it
    IAccessible* box = nullptr;  // which a reader asks about itself, by its name
    ASSERT_EQ(::AccessibleObjectFromWindow(::GetFocus(), OBJID_CLIENT, kv::kIidAccessible, reinterpret_cast<void**>(&box)), S_OK);
    BSTR boxName = nullptr;
    box->get_accName(Id(CHILDID_SELF), &boxName);
    box->Release();
    EXPECT_EQ(Text(boxName), L"安装目录");
    events.clear();
    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], told(EVENT_OBJECT_FOCUS, L"btn_select"));
    tab->SelectItem(0);

    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ::SendMessageW(w, WM_KEYDOWN, VK_TAB, 0x000F0001);
    events.clear();
    ::SendMessageW(w, WM_KEYDOWN, VK_SPACE, 0x00390001);
    ::SendMessageW(w, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_FALSE(w.FindControlAs<COptionUI>(L"opt_agree")->IsSelected());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], told(EVENT_OBJECT_STATECHANGE, L"opt_agree"));
    events.clear();
    w.FindControl(L"btn_install")->SetEnabled(false);
    w.FindControl(L"btn_install2")->SetEnabled(false);  // on a hidden page: no object to tell of
    w.FindControl(L"VerticalLayoutUI2")->SetEnabled(false);  // a container is no child
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], told(EVENT_OBJECT_STATECHANGE, L"btn_install"));
    m.GetAccessibleEvents().SetSink(nullptr);
    ::DestroyWindow(w);
}

// A reader may set the folder as if typing it, and only where typing could:
// not on a hidden page, not in a read-only box, not while a modal box has
// disabled the window; a button has no value to set.
TEST_F(AccessibleTest, FolderValueIsSetOnlyWhereTypingCould) {
    TestWindow w(L"InstallPackages.xml");
    ASSERT_NE(w.CreatePopup(), nullptr);
    w.ShowWindow(true);
    ASSERT_NE(Open(w), nullptr);
    auto* edit = w.FindControlAs<CEditUI>(L"edit_input");
    EXPECT_EQ(CAccessibleInfo::ChildId(w.GetPaintManager().GetRoot(), edit), CHILDID_SELF);  // page 0 is shown
    BSTR folder = ::SysAllocString(L"E:\\游戏");
    w.FindControlAs<CTabLayoutUI>(L"tb_main")->SelectItem(1);
    const LONG id = CAccessibleInfo::ChildId(w.GetPaintManager().GetRoot(), edit);
    ::EnableWindow(w, FALSE);
    EXPECT_EQ(acc_->put_accValue(Id(id), folder), E_FAIL);
    ::EnableWindow(w, TRUE);
    edit->SetReadOnly(true);
    EXPECT_EQ(acc_->put_accValue(Id(id), folder), E_FAIL);
    edit->SetReadOnly(false);
    EXPECT_EQ(edit->GetText(), L"");
    const int changes = w.Count(L"textchanged", L"edit_input");
    EXPECT_EQ(acc_->put_accValue(Id(id), folder), S_OK);
    EXPECT_EQ(edit->GetText(), L"E:\\游戏");
    EXPECT_EQ(w.Count(L"textchanged", L"edit_input"), changes + 1);
    EXPECT_EQ(acc_->put_accValue(Id(IdOf(L"浏览")), folder), DISP_E_MEMBERNOTFOUND);
    ::SysFreeString(folder);
    ::DestroyWindow(w);
}
