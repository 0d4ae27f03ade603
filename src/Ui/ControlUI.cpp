#include "Ui/ControlUI.h"

#include "Ui/HighContrast.h"
#include "Ui/ImageDescription.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    manager_ = manager;
    parent_ = parent;
}

void CControlUI::SetPos(const RECT& rc) {
    if (::EqualRect(&rc, &rcItem_)) return;
    Invalidate();
    rcItem_ = rc;
    Invalidate();
}

int CControlUI::Scaled(int v) const { return manager_ ? manager_->Scale(v) : v; }
RECT CControlUI::Scaled(const RECT& rc) const { return manager_ ? manager_->Scale(rc) : rc; }

void CControlUI::SetFixedWidth(int cx) {
    if (cx < 0) return;
    fixedWidth_ = cx;
    NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
    if (cy < 0) return;
    fixedHeight_ = cy;
    NeedParentUpdate();
}

void CControlUI::SetText(const std::wstring& text) {
    if (text_ == text) return;
    text_ = text;
    Invalidate();
}

void CControlUI::SetBkColor(uint32_t argb) {
    bkColor_ = argb;
    Invalidate();
}

void CControlUI::SetBorderColor(uint32_t argb) {
    borderColor_ = argb;
    Invalidate();
}

void CControlUI::SetBkImage(const std::wstring& description) {
    if (bkImage_ == description) return;
    bkImage_ = description;
    Invalidate();
}

void CControlUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    if (!visible) {
        OnHide();
        if (manager_) manager_->ReleaseControl(this);
    }
    NeedParentUpdate();
}

bool CControlUI::IsShown() const {
    for (const CControlUI* c = this; c != nullptr; c = c->parent_) {
        if (!c->visible_) return false;
    }
    return true;
}

void CControlUI::SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    if (!enabled && manager_) manager_->ReleaseControl(this);
    Invalidate();
    if (manager_) manager_->GetAccessibleEvents().StateChanged(this);
}

void CControlUI::SetFocus() {
    if (manager_) manager_->SetFocus(this);
}

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    RECT rc{};
    int n = 0;
    uint32_t color = 0;
    if (name == L"name") {
        name_ = value;
    } else if (name == L"float") {
        float_ = markup::ParseBool(value);
    } else if (name == L"pos") {
        if (markup::ParseRect(value, rc)) floatPos_ = rc;
    } else if (name == L"width") {
        if (markup::ParseInt(value, n)) SetFixedWidth(n);
    } else if (name == L"height") {
        if (markup::ParseInt(value, n)) SetFixedHeight(n);
    } else if (name == L"bkcolor") {
        if (markup::ParseColor(value, color)) bkColor_ = color;
    } else if (name == L"bordercolor") {
        if (markup::ParseColor(value, color)) borderColor_ = color;
    } else if (name == L"bordersize") {
        if (markup::ParseInt(value, n)) borderSize_ = n;
    } else if (name == L"bkimage") {
        bkImage_ = value;
    } else if (name == L"text") {
        text_ = value;
    } else if (name == L"tooltip") {
        tooltip_ = value;
    } else if (name == L"accname") {
        accName_ = value;
    } else if (name == L"accrole") {
        accRole_ = value;
    } else if (name == L"visible") {
        visible_ = markup::ParseBool(value);
    } else if (name == L"enabled") {
        enabled_ = markup::ParseBool(value);
    }
}

CControlUI* CControlUI::FindControlAt(POINT pt) {
    if (!visible_ || !::PtInRect(&rcItem_, pt)) return nullptr;
    return this;
}

CControlUI* CControlUI::FindControlByName(const std::wstring& name) {
    return name_ == name ? this : nullptr;
}

void CControlUI::DoEvent(TEventUI& event) {
    if (event.type == UiEvent::SetFocus) {
        focused_ = true;
        Invalidate();
    } else if (event.type == UiEvent::KillFocus) {
        focused_ = false;
        Invalidate();
    }
}

bool CControlUI::Activate() { return visible_ && enabled_; }

void CControlUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    RECT clip{};
    if (!::IntersectRect(&clip, &rcPaint, &rcItem_)) return;
    PaintBkColor(hdc);
    PaintBkImage(hdc, clip);
    PaintStatusImage(hdc, clip);
    PaintText(hdc);
    PaintBorder(hdc);
}

// In high contrast the window is filled with the system's window colour
// before the controls paint (CPaintManagerUI::Paint); their own colours and
// photos stay off.
void CControlUI::PaintBkColor(HDC hdc) {
    if (!CHighContrast::IsOn()) CRenderEngine::FillColor(hdc, rcItem_, bkColor_);
}

void CControlUI::PaintBkImage(HDC hdc, const RECT& rcPaint) {
    if (bkImage_.empty() || CHighContrast::IsOn()) return;
    DrawImage(hdc, bkImage_, rcPaint);
}

void CControlUI::PaintStatusImage(HDC, const RECT&) {}
void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC hdc) {
    const bool contrast = CHighContrast::IsOn() && (borderColor_ >> 24) != 0;
    CRenderEngine::DrawBorder(hdc, rcItem_, contrast ? CHighContrast::Color(COLOR_WINDOWTEXT) : borderColor_,
                              Scaled(borderSize_));
}

bool CControlUI::DrawImage(HDC hdc, const std::wstring& description, const RECT& rcPaint, const std::wstring& modify) {
    if (manager_ == nullptr || description.empty()) return false;
    bool loadedAll = true;
    for (const ImageDrawItem& item : CImageDescription::Parse(description, modify)) {
        // An image that cannot be loaded is skipped; the others still draw.
        Gdiplus::Bitmap* image = item.settings.fromResource
                                     ? manager_->GetResourceImage(item.name, item.settings.resType)
                                     : manager_->GetImage(item.name);
        if (image == nullptr) {
            loadedAll = false;
            continue;
        }
        // The image's pixels are device pixels: the description's figures are scaled to match.
        CRenderEngine::DrawImage(hdc, image, rcItem_, rcPaint, CRenderEngine::ScaleSettings(item.settings, manager_->GetDpi()),
                                 manager_->GetDrawCache());
    }
    return loadedAll;
}

void CControlUI::Invalidate() {
    if (manager_ == nullptr || !visible_) return;
    // In high contrast a button's words may run over its box (CButtonUI).
    manager_->Invalidate(CHighContrast::IsOn() && parent_ ? parent_->GetPos() : rcItem_);
}

void CControlUI::NeedUpdate() {
    if (manager_) manager_->NeedUpdate();
}

void CControlUI::NeedParentUpdate() {
    if (manager_) manager_->NeedUpdate();
}
