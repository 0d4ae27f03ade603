#include "Ui/AccessibleInfo.h"

#include <oleacc.h>

#include "Runtime/TextUtils.h"
#include "Ui/ButtonUI.h"
#include "Ui/ContainerUI.h"
#include "Ui/EditUI.h"
#include "Ui/LabelUI.h"
#include "Ui/OptionUI.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/UiTexts.h"

namespace {
// The default actions a reader speaks, in the language of the window's texts.
constexpr wchar_t kActionPress[] = L"action.press";
constexpr wchar_t kActionCheck[] = L"action.check";
constexpr wchar_t kActionUncheck[] = L"action.uncheck";
constexpr wchar_t kActionJump[] = L"action.jump";
constexpr wchar_t kActionEdit[] = L"action.edit";

void Collect(CControlUI* control, std::vector<CControlUI*>& out) {
    if (control == nullptr) return;
    out.push_back(control);
    if (auto* container = dynamic_cast<CContainerUI*>(control)) {
        for (int i = 0; i < container->GetCount(); ++i) Collect(container->GetItemAt(i), out);
    }
}

bool IsLabelKind(const CControlUI& c) {
    return dynamic_cast<const CLabelUI*>(&c) != nullptr && c.CanFocus() == false &&
           dynamic_cast<const CProgressUI*>(&c) == nullptr;
}
}  // namespace

std::vector<CControlUI*> CAccessibleInfo::Flatten(CControlUI* root) {
    std::vector<CControlUI*> all;
    Collect(root, all);
    return all;
}

LONG CAccessibleInfo::ChildId(CControlUI* root, const CControlUI* control) {
    if (control == nullptr) return CHILDID_SELF;
    const std::vector<CControlUI*> shown = ShownChildren(root);
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == control) return static_cast<LONG>(i + 1);
    }
    return CHILDID_SELF;
}

CControlUI* CAccessibleInfo::FromChildId(CControlUI* root, LONG id) {
    const std::vector<CControlUI*> shown = ShownChildren(root);
    return id > 0 && static_cast<size_t>(id) <= shown.size() ? shown[static_cast<size_t>(id) - 1] : nullptr;
}

std::vector<CControlUI*> CAccessibleInfo::ShownChildren(CControlUI* root) {
    std::vector<CControlUI*> shown;
    for (CControlUI* c : Flatten(root)) {
        if (c->IsShown() && IsListed(*c)) shown.push_back(c);
    }
    return shown;
}

bool CAccessibleInfo::IsListed(const CControlUI& c) {
    // Decoration drawn as text (the backgrounds' slogans) is not read out.
    if (c.GetAccRole() == L"none") return false;
    if (!c.GetAccRole().empty() || !c.GetAccName().empty()) return true;
    if (dynamic_cast<const CContainerUI*>(&c) != nullptr) return false;
    if (c.CanFocus() || dynamic_cast<const CProgressUI*>(&c) != nullptr) return true;
    // A label says something only while it has text.
    return IsLabelKind(c) && !c.GetText().empty();
}

std::wstring CAccessibleInfo::Name(const CControlUI& c) {
    if (!c.GetAccName().empty()) return c.GetAccName();
    // An edit's text is its value, not its name.
    if (dynamic_cast<const CEditUI*>(&c) == nullptr && !c.GetText().empty()) return c.GetText();
    return c.GetToolTip();
}

LONG CAccessibleInfo::Role(const CControlUI& c) {
    if (const LONG role = RoleFromWord(c.GetAccRole())) return role;
    if (auto* option = dynamic_cast<const COptionUI*>(&c))
        return option->GetGroup().empty() ? ROLE_SYSTEM_CHECKBUTTON : ROLE_SYSTEM_RADIOBUTTON;
    if (dynamic_cast<const CButtonUI*>(&c)) return ROLE_SYSTEM_PUSHBUTTON;
    if (dynamic_cast<const CEditUI*>(&c)) return ROLE_SYSTEM_TEXT;
    if (dynamic_cast<const CProgressUI*>(&c)) return ROLE_SYSTEM_PROGRESSBAR;
    if (dynamic_cast<const CLabelUI*>(&c)) return ROLE_SYSTEM_STATICTEXT;
    return ROLE_SYSTEM_GRAPHIC;
}

bool CAccessibleInfo::WindowHasFocus(HWND hwnd) {
    const HWND focus = ::GetFocus();
    return hwnd != nullptr && focus != nullptr && (focus == hwnd || ::IsChild(hwnd, focus));
}

LONG CAccessibleInfo::State(const CControlUI& c, const CPaintManagerUI& manager) {
    if (!c.IsShown()) return STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN;
    const HWND hwnd = manager.GetPaintWindow();
    LONG state = 0;
    if (hwnd && ::IsIconic(hwnd)) state |= STATE_SYSTEM_OFFSCREEN;
    if (!c.IsEnabled() || (hwnd && !::IsWindowEnabled(hwnd))) state |= STATE_SYSTEM_UNAVAILABLE;
    if (c.CanFocus()) {
        state |= STATE_SYSTEM_FOCUSABLE;
        if (manager.GetFocus() == &c && WindowHasFocus(hwnd)) state |= STATE_SYSTEM_FOCUSED;
    }
    if (auto* option = dynamic_cast<const COptionUI*>(&c)) {
        if (option->IsSelected()) state |= STATE_SYSTEM_CHECKED;
    }
    if (auto* button = dynamic_cast<const CButtonUI*>(&c)) {
        if (button->IsHot()) state |= STATE_SYSTEM_HOTTRACKED;
        if (button->IsPushed()) state |= STATE_SYSTEM_PRESSED;
    }
    if (auto* edit = dynamic_cast<const CEditUI*>(&c)) {
        if (edit->IsReadOnly()) state |= STATE_SYSTEM_READONLY;
        if (edit->IsPassword()) state |= STATE_SYSTEM_PROTECTED;
    }
    const LONG role = Role(c);
    if (role == ROLE_SYSTEM_LINK) state |= STATE_SYSTEM_LINKED;
    if (role == ROLE_SYSTEM_STATICTEXT || role == ROLE_SYSTEM_PROGRESSBAR || role == ROLE_SYSTEM_GRAPHIC)
        state |= STATE_SYSTEM_READONLY;
    return state;
}

bool CAccessibleInfo::HasValue(const CControlUI& c) {
    return dynamic_cast<const CProgressUI*>(&c) != nullptr || dynamic_cast<const CEditUI*>(&c) != nullptr;
}

std::wstring CAccessibleInfo::Value(const CControlUI& c) {
    if (auto* progress = dynamic_cast<const CProgressUI*>(&c)) {
        const long long span = static_cast<long long>(progress->GetMaxValue()) - progress->GetMinValue();
        const long long done = static_cast<long long>(progress->GetValue()) - progress->GetMinValue();
        const int percent = span > 0 ? static_cast<int>(done * 100 / span) : 0;
        return FormatString(L"%d%%", percent);
    }
    if (auto* edit = dynamic_cast<const CEditUI*>(&c)) return edit->IsPassword() ? L"" : c.GetText();
    return L"";
}

std::wstring CAccessibleInfo::DefaultAction(const CControlUI& c) {
    switch (Role(c)) {
        case ROLE_SYSTEM_PUSHBUTTON: return UiText(kActionPress);
        case ROLE_SYSTEM_LINK: return UiText(kActionJump);
        case ROLE_SYSTEM_RADIOBUTTON: return UiText(kActionCheck);
        case ROLE_SYSTEM_TEXT: return UiText(kActionEdit);
        case ROLE_SYSTEM_CHECKBUTTON: {
            auto* option = dynamic_cast<const COptionUI*>(&c);
            return UiText(option && option->IsSelected() ? kActionUncheck : kActionCheck);
        }
        default: return L"";
    }
}

LONG CAccessibleInfo::RoleFromWord(const std::wstring& word) {
    static const struct {
        const wchar_t* word;
        LONG role;
    } kRoles[] = {{L"link", ROLE_SYSTEM_LINK},
                  {L"pushbutton", ROLE_SYSTEM_PUSHBUTTON},
                  {L"checkbutton", ROLE_SYSTEM_CHECKBUTTON},
                  {L"radiobutton", ROLE_SYSTEM_RADIOBUTTON},
                  {L"text", ROLE_SYSTEM_TEXT},
                  {L"statictext", ROLE_SYSTEM_STATICTEXT},
                  {L"progressbar", ROLE_SYSTEM_PROGRESSBAR},
                  {L"graphic", ROLE_SYSTEM_GRAPHIC},
                  {L"dialog", ROLE_SYSTEM_DIALOG},
                  {L"alert", ROLE_SYSTEM_ALERT},
                  {L"client", ROLE_SYSTEM_CLIENT}};
    for (const auto& r : kRoles) {
        if (word == r.word) return r.role;
    }
    return 0;
}

LONG CAccessibleInfo::WindowRole(const CPaintManagerUI& manager) {
    const LONG role = RoleFromWord(manager.accRole);
    return role ? role : ROLE_SYSTEM_CLIENT;
}
