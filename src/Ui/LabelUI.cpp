#include "Ui/LabelUI.h"

#include "Runtime/Handles.h"
#include "Ui/HighContrast.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"

void CLabelUI::SetFont(int index) {
    font_ = index;
    Invalidate();
}

void CLabelUI::SetTextColor(uint32_t argb) {
    textColor_ = argb;
    Invalidate();
}

namespace {
// "center" as a word of its own; the one inside "vcenter" does not count, so
// "center vcenter" still centres horizontally.
bool HasHorizontalCenter(const std::wstring& value) {
    for (size_t at = value.find(L"center"); at != std::wstring::npos; at = value.find(L"center", at + 1)) {
        if (at == 0 || value[at - 1] != L'v') return true;
    }
    return false;
}
}  // namespace

// The words are applied in this order: "left" aligns left and drops vertical
// centring; "center" centres horizontally; "right" aligns right and drops
// both centrings. "top", "vcenter", "bottom" set the vertical position.
void CLabelUI::SetAlign(const std::wstring& value) {
    if (value.find(L"left") != std::wstring::npos) {
        textStyle_ &= ~(DT_CENTER | DT_RIGHT | DT_VCENTER);
        textStyle_ |= DT_LEFT;
    }
    if (HasHorizontalCenter(value)) {
        textStyle_ &= ~(DT_LEFT | DT_RIGHT);
        textStyle_ |= DT_CENTER;
    }
    if (value.find(L"right") != std::wstring::npos) {
        textStyle_ &= ~(DT_LEFT | DT_CENTER | DT_VCENTER);
        textStyle_ |= DT_RIGHT;
    }
    if (value.find(L"top") != std::wstring::npos) textStyle_ &= ~(DT_BOTTOM | DT_VCENTER);
    if (value.find(L"vcenter") != std::wstring::npos) {
        textStyle_ &= ~DT_BOTTOM;
        textStyle_ |= DT_VCENTER;
    }
    if (value.find(L"bottom") != std::wstring::npos) {
        textStyle_ &= ~DT_VCENTER;
        textStyle_ |= DT_BOTTOM;
    }
    Invalidate();
}

SIZE CLabelUI::EstimateSize() const {
    SIZE size = CControlUI::EstimateSize();
    if (size.cy == 0 && manager_) size.cy = manager_->GetFontHeight(font_) + Scaled(EstimateExtra());
    return size;
}

void CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    int n = 0;
    uint32_t color = 0;
    RECT rc{};
    if (name == L"font") {
        if (markup::ParseInt(value, n)) font_ = n;
    } else if (name == L"textcolor") {
        if (markup::ParseColor(value, color)) textColor_ = color;
    } else if (name == L"disabledtextcolor") {
        if (markup::ParseColor(value, color)) disabledTextColor_ = color;
    } else if (name == L"textpadding") {
        if (markup::ParseRect(value, rc)) textPadding_ = rc;
    } else if (name == L"align") {
        SetAlign(value);
    } else if (name == L"multiline") {
        // Wraps a text too long for one line (a message box's question).
        if (markup::ParseBool(value)) textStyle_ |= DT_WORDBREAK;
        else textStyle_ &= ~DT_WORDBREAK;
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

int CLabelUI::TextWidth() const {
    const std::wstring text = GetText();
    if (text.empty() || manager_ == nullptr) return 0;
    const kv::UniqueScreenDc dc(::GetDC(nullptr));
    if (!dc) return 0;
    const HGDIOBJ old = ::SelectObject(dc.get(), manager_->GetFont(font_));
    SIZE size{};
    ::GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc.get(), old);
    return size.cx;
}

RECT CLabelUI::TextRect() const {
    const RECT pad = Scaled(textPadding_);
    return {rcItem_.left + pad.left, rcItem_.top + pad.top, rcItem_.right - pad.right, rcItem_.bottom - pad.bottom};
}

void CLabelUI::PaintText(HDC hdc) {
    const std::wstring text = PaintedText();
    if (text.empty() || manager_ == nullptr) return;
    uint32_t color = enabled_ ? textColor_ : disabledTextColor_;
    if (color == 0) color = enabled_ ? manager_->defaultTextColor : manager_->defaultDisabledColor;
    if (CHighContrast::IsOn()) color = CHighContrast::Color(ContrastTextColor());
    CRenderEngine::DrawText(hdc, TextRect(), text, color, manager_->GetFont(font_), textStyle_);
}
