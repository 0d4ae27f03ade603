#include "Ui/OptionUI.h"

#include "Runtime/Handles.h"
#include "Ui/HighContrast.h"
#include "Ui/ImageDescription.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    CButtonUI::SetManager(manager, parent);
    if (manager && !group_.empty()) manager->AddOptionGroup(group_, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
    group_ = group;
    if (manager_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::Selected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    Invalidate();
    if (manager_ == nullptr) return;
    manager_->GetAccessibleEvents().StateChanged(this);
    if (!group_.empty()) {
        if (!selected_) return;
        if (const auto* members = manager_->GetOptionGroup(group_)) {
            for (CControlUI* c : *members) {
                auto* other = static_cast<COptionUI*>(c);
                if (other != this) other->Selected(false);
            }
        }
    }
    manager_->SendNotify(this, notify::kSelectChanged);
}

bool COptionUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (!group_.empty()) Selected(true);
    else Selected(!selected_);
    return CButtonUI::Activate();
}

void COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"selected") selected_ = markup::ParseBool(value);
    else if (name == L"group") group_ = value;
    else if (name == L"selectedimage") selectedImage_ = value;
    else if (name == L"selectedhotimage") selectedHotImage_ = value;
    else CButtonUI::SetAttribute(name, value);
}

void COptionUI::PaintStatusImage(HDC hdc, const RECT& rcPaint) {
    if (CHighContrast::IsOn()) {
        RECT box = BoxRect();
        if (::IsRectEmpty(&box)) {
            CButtonUI::PaintStatusImage(hdc, rcPaint);
            return;
        }
        const uint32_t color = CHighContrast::Color(ContrastTextColor());
        CRenderEngine::DrawBorder(hdc, box, color, Scaled(1));
        ::InflateRect(&box, -Scaled(4), -Scaled(4));
        if (selected_) CRenderEngine::FillColor(hdc, box, color);
        return;
    }
    if (selected_) {
        if (hot_ && !selectedHotImage_.empty() && DrawStateImage(hdc, selectedHotImage_, rcPaint)) return;
        if (DrawStateImage(hdc, selectedImage_, rcPaint)) return;
    }
    CButtonUI::PaintStatusImage(hdc, rcPaint);
}

RECT COptionUI::BoxRect() const {
    RECT content{};
    for (const std::wstring* d : {&bkImage_, &selectedImage_}) {
        for (const ImageDrawItem& item : CImageDescription::Parse(*d)) {
            if (!item.settings.hasDest) continue;
            const RECT r = Scaled(item.settings.dest);
            const RECT box{rcItem_.left + r.left, rcItem_.top + r.top, rcItem_.left + r.right, rcItem_.top + r.bottom};
            ::UnionRect(&content, &content, &box);
        }
    }
    return content;
}

RECT COptionUI::GetFocusRect() {
    if (!normalImage_.empty() || manager_ == nullptr) return rcItem_;
    RECT content = BoxRect();
    // The text: measured and aligned as PaintText draws it.
    const std::wstring text = GetText();
    if (!text.empty()) {
        RECT area = TextRect();
        RECT extent = area;
        const kv::UniqueScreenDc dc(::GetDC(nullptr));
        HGDIOBJ old = ::SelectObject(dc.get(), manager_->GetFont(font_));
        ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent,
                    DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        ::SelectObject(dc.get(), old);
        const int w = extent.right - extent.left, h = extent.bottom - extent.top;
        int left = area.left;
        if (textStyle_ & DT_CENTER) left = (area.left + area.right - w) / 2;
        else if (textStyle_ & DT_RIGHT) left = area.right - w;
        int top = area.top;
        if (textStyle_ & DT_VCENTER) top = (area.top + area.bottom - h) / 2;
        else if (textStyle_ & DT_BOTTOM) top = area.bottom - h;
        const RECT drawn{left, top, left + w, top + h};
        ::UnionRect(&content, &content, &drawn);
    }
    RECT inside{};
    if (::IsRectEmpty(&content) || !::IntersectRect(&inside, &content, &rcItem_)) return rcItem_;
    inside.top = rcItem_.top;
    inside.bottom = rcItem_.bottom;
    return inside;
}
