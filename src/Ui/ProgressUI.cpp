#include "Ui/ProgressUI.h"

#include <algorithm>

#include "Runtime/TextUtils.h"
#include "Ui/HighContrast.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"

void CProgressUI::SetMinValue(int v) {
    min_ = v;
    Invalidate();
}

void CProgressUI::SetMaxValue(int v) {
    max_ = v;
    Invalidate();
}

void CProgressUI::SetValue(int v) {
    if (v < min_ || v > max_ || v == value_) return;
    value_ = v;
    Invalidate();
    if (manager_) manager_->GetAccessibleEvents().ValueChanged(this);
}

void CProgressUI::SetBkImageChangingColumns(const std::wstring& description, int left, int right) {
    if (bkImage_ == description) return;
    bkImage_ = description;
    if (manager_ == nullptr || !visible_ || right <= left) return;
    // One column more on each side for the rounding of the scaled edges.
    RECT part = rcItem_;
    part.left = std::max(rcItem_.left, rcItem_.left + Scaled(left) - 1);
    part.right = std::min(rcItem_.right, rcItem_.left + Scaled(right) + 1);
    manager_->Invalidate(part);
}

void CProgressUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    int n = 0;
    if (name == L"foreimage") foreImage_ = value;
    else if (name == L"min") { if (markup::ParseInt(value, n)) min_ = n; }
    else if (name == L"max") { if (markup::ParseInt(value, n)) max_ = n; }
    else if (name == L"value") { if (markup::ParseInt(value, n)) value_ = n; }
    else if (name == L"hor") horizontal_ = markup::ParseBool(value);
    else CLabelUI::SetAttribute(name, value);
}

void CProgressUI::PaintStatusImage(HDC hdc, const RECT& rcPaint) {
    if (CHighContrast::IsOn()) {
        // A frame in the text colour, filled in the highlight colour; like
        // the art, a slim bar along the middle of the box.
        RECT frame = rcItem_;
        if (horizontal_) ::InflateRect(&frame, 0, -(frame.bottom - frame.top) / 4);
        else ::InflateRect(&frame, -(frame.right - frame.left) / 4, 0);
        CRenderEngine::DrawBorder(hdc, frame, CHighContrast::Color(COLOR_WINDOWTEXT), Scaled(1));
        RECT fill = frame;
        ::InflateRect(&fill, -Scaled(3), -Scaled(3));
        const long long span = max_ - min_, done = value_ - min_, w = fill.right - fill.left, h = fill.bottom - fill.top;
        if (span <= 0) return;
        if (horizontal_) fill.right = fill.left + static_cast<LONG>(w * done / span);
        else fill.top = fill.bottom - static_cast<LONG>(h * done / span);
        CRenderEngine::FillColor(hdc, fill, CHighContrast::Color(COLOR_HIGHLIGHT));
        return;
    }
    if (foreImage_.empty() || max_ <= min_) return;
    // The description is written at 96 DPI, as the markup's are.
    const int w = manager_ ? manager_->Unscale(rcItem_.right - rcItem_.left) : rcItem_.right - rcItem_.left;
    const int h = manager_ ? manager_->Unscale(rcItem_.bottom - rcItem_.top) : rcItem_.bottom - rcItem_.top;
    const long long span = max_ - min_, done = value_ - min_;
    std::wstring modify;
    if (horizontal_) {
        modify = FormatString(L"dest='0,0,%d,%d'", static_cast<int>(w * done / span), h);
    } else {
        modify = FormatString(L"dest='0,%d,%d,%d'", static_cast<int>(h - h * done / span), w, h);
    }
    if (!DrawImage(hdc, foreImage_, rcPaint, modify)) foreImage_.clear();
}
