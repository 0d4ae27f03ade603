#include "Ui/ButtonUI.h"

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

#include "Ui/AccessibleInfo.h"
#include "Ui/HighContrast.h"
#include "Ui/ImageDescription.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"

// Buttons centre their text unless the markup aligns it otherwise.
CButtonUI::CButtonUI() { textStyle_ = DT_CENTER | DT_VCENTER; }

bool CButtonUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (manager_) manager_->SendNotify(this, notify::kClick);
    return true;
}

void CButtonUI::DoEvent(TEventUI& event) {
    switch (event.type) {
        case UiEvent::MouseEnter:
            if (enabled_) {
                hot_ = true;
                Invalidate();
            }
            return;
        case UiEvent::MouseLeave:
            hot_ = false;
            Invalidate();
            return;
        case UiEvent::ButtonDown:
            if (enabled_ && ::PtInRect(&rcItem_, event.ptMouse)) {
                pushed_ = captured_ = true;
                Invalidate();
            }
            return;
        case UiEvent::MouseMove:
            if (captured_) {
                const bool inside = ::PtInRect(&rcItem_, event.ptMouse) != FALSE;
                if (inside != pushed_) {
                    pushed_ = inside;
                    Invalidate();
                }
            }
            return;
        case UiEvent::ButtonUp:
            if (captured_) {
                const bool inside = ::PtInRect(&rcItem_, event.ptMouse) != FALSE;
                pushed_ = captured_ = false;
                Invalidate();
                if (inside) Activate();
            }
            return;
        case UiEvent::KeyDown:
            if (event.wParam == VK_SPACE && enabled_ && !captured_) {
                pushed_ = spacePressed_ = true;
                Invalidate();
            }
            return;
        case UiEvent::KeyUp:
            if (event.wParam == VK_SPACE && spacePressed_) {
                pushed_ = spacePressed_ = false;
                Invalidate();
                Activate();
            }
            return;
        case UiEvent::KillFocus:
        case UiEvent::KeyCancel:
            if (spacePressed_) {
                pushed_ = spacePressed_ = false;
                Invalidate();
            }
            if (event.type == UiEvent::KillFocus) CLabelUI::DoEvent(event);
            return;
        default:
            CLabelUI::DoEvent(event);
    }
}

void CButtonUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"normalimage") normalImage_ = value;
    else if (name == L"hotimage") hotImage_ = value;
    else if (name == L"pushedimage") pushedImage_ = value;
    else if (name == L"focusedimage") focusedImage_ = value;
    else if (name == L"disabledimage") disabledImage_ = value;
    else if (name == L"hottextcolor") markup::ParseColor(value, hotTextColor_);
    else if (name == L"hotfont") markup::ParseInt(value, hotFont_);
    else CLabelUI::SetAttribute(name, value);
}

bool CButtonUI::DrawStateImage(HDC hdc, std::wstring& image, const RECT& rcPaint) {
    if (image.empty()) return false;
    if (!DrawImage(hdc, image, rcPaint)) {
        image.clear();
        return false;
    }
    return true;
}

int CButtonUI::ContrastTextColor() const {
    if (!enabled_) return COLOR_GRAYTEXT;
    if (hot_ || pushed_) return COLOR_HIGHLIGHTTEXT;
    return IsLink() ? COLOR_WINDOWTEXT : COLOR_BTNTEXT;
}

// The first state image that applies: disabled, pushed, hot, focused, normal.
// In high contrast a face and frame instead (a link has neither until hot).
void CButtonUI::PaintStatusImage(HDC hdc, const RECT& rcPaint) {
    if (CHighContrast::IsOn()) {
        const RECT face = ContrastFace();
        if (enabled_ && (hot_ || pushed_)) CRenderEngine::FillColor(hdc, face, CHighContrast::Color(COLOR_HIGHLIGHT));
        else if (!IsLink()) CRenderEngine::FillColor(hdc, face, CHighContrast::Color(COLOR_BTNFACE));
        if (!IsLink()) CRenderEngine::DrawBorder(hdc, face, CHighContrast::Color(ContrastTextColor()), Scaled(1));
        return;
    }
    if (!enabled_ && !disabledImage_.empty()) {
        DrawStateImage(hdc, disabledImage_, rcPaint);
    } else if (pushed_ && !pushedImage_.empty()) {
        DrawStateImage(hdc, pushedImage_, rcPaint);
    } else if (hot_ && !hotImage_.empty()) {
        DrawStateImage(hdc, hotImage_, rcPaint);
    } else if (focused_ && !focusedImage_.empty()) {
        DrawStateImage(hdc, focusedImage_, rcPaint);
    } else {
        DrawStateImage(hdc, normalImage_, rcPaint);
    }
}

// In the hot and pushed states, the hot colour and font where the markup
// gives them.
void CButtonUI::PaintSkinText(HDC hdc) {
    const uint32_t color = textColor_;
    const int font = font_;
    if (hot_ || pushed_) {
        if (hotTextColor_ != 0) textColor_ = hotTextColor_;
        if (hotFont_ >= 0) font_ = hotFont_;
    }
    CLabelUI::PaintText(hdc);
    textColor_ = color;
    font_ = font;
}

// Without its art a button drawn by it says what it is on its face: its
// text, else (the words were in the art) its accessible name, wrapped when
// wider than the button; a link's words are underlined.
void CButtonUI::PaintText(HDC hdc) {
    if (!CHighContrast::IsOn() || normalImage_.empty() || manager_ == nullptr) {
        PaintSkinText(hdc);
        return;
    }
    const std::wstring name = GetText().empty() ? CAccessibleInfo::Name(*this) : GetText();
    const uint32_t color = CHighContrast::Color(ContrastTextColor());
    HFONT font = manager_->GetFont(font_);
    const RECT face = ContrastFace();
    const auto measure = [&](HFONT f) {
        SIZE extent{};
        HGDIOBJ old = ::SelectObject(hdc, f);
        ::GetTextExtentPoint32W(hdc, name.c_str(), static_cast<int>(name.size()), &extent);
        ::SelectObject(hdc, old);
        return extent;
    };
    SIZE extent = measure(font);
    // A name wider than its face (a caption button's) is drawn on one line
    // in a font made small enough to fit, not wrapped or spilled over its
    // neighbours.
    HFONT smaller = nullptr;
    LOGFONTW lf{};
    const LONG room = face.right - face.left - Scaled(4);
    if (extent.cx > room && room > 0 && ::GetObjectW(font, sizeof(lf), &lf) == sizeof(lf)) {
        lf.lfHeight = ::MulDiv(lf.lfHeight, room, extent.cx);
        lf.lfWidth = 0;
        if ((smaller = ::CreateFontIndirectW(&lf)) != nullptr) extent = measure(font = smaller);
    }
    CRenderEngine::DrawText(hdc, face, name, color, font,
                            DT_CENTER | DT_VCENTER | DT_NOCLIP | (smaller ? DT_SINGLELINE : DT_WORDBREAK));
    if (smaller) ::DeleteObject(smaller);
    if (!IsLink()) return;
    const LONG left = (face.left + face.right - extent.cx) / 2;
    const LONG bottom = (face.top + face.bottom + extent.cy) / 2;
    CRenderEngine::FillColor(hdc, {left, bottom - Scaled(1), left + extent.cx, bottom}, color);
}

RECT CButtonUI::ContrastFace() const {
    RECT face = rcItem_;
    const int grow = (manager_ ? manager_->GetFontHeight(font_) + Scaled(4) : 0) - (face.bottom - face.top);
    if (grow > 0) {
        face.top -= grow / 2;
        face.bottom += grow - grow / 2;
    }
    return face;
}

RECT CButtonUI::GetFocusRect() { return CHighContrast::IsOn() ? ContrastFace() : CLabelUI::GetFocusRect(); }

int CButtonUI::GetCornerRadius() {
    if (manager_ == nullptr || (radiusOf_ == normalImage_ && radiusDpi_ == manager_->GetDpi())) return radius_;
    radiusOf_ = normalImage_;
    radiusDpi_ = manager_->GetDpi();
    radius_ = Scaled(3);
    const std::vector<ImageDrawItem> items = CImageDescription::Parse(normalImage_);
    if (items.empty() || items.front().settings.fromResource) return radius_;
    Gdiplus::Bitmap* image = manager_->GetImage(items.front().name);
    if (image == nullptr) return radius_;
    RECT src = Scaled(items.front().settings.source);
    if (src.right <= src.left || src.bottom <= src.top) {
        src = {0, 0, static_cast<LONG>(image->GetWidth()), static_cast<LONG>(image->GetHeight())};
    }
    // An image whose top row stays clear for its left half is a glyph or a
    // link, not a shape: it keeps the default.
    const int w = src.right - src.left, half = w / 2, h = src.bottom - src.top;
    for (int x = 0; x < half; ++x) {
        Gdiplus::Color c;
        if (image->GetPixel(src.left + x, src.top, &c) == Gdiplus::Ok && c.GetAlpha() >= 128) {
            radius_ = std::min(x + 1, h / 2);
            break;
        }
    }
    return radius_;
}
