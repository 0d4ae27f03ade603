#pragma once
// A label that is clicked: state images (normal, hot, pushed, focused,
// disabled) and a "click" notification when the mouse is released over it
// after pressing it, or when Space is released after pressing it while the
// button has the focus. In high contrast: a framed face in the system's
// button colours (highlight while hot or pressed) with its text, or its
// accessible name where the words were in the art. Main thread only.
#include "Ui/LabelUI.h"

class CButtonUI : public CLabelUI {
public:
    CButtonUI();
    const wchar_t* GetClass() const override { return L"ButtonUI"; }

    bool CanFocus() const override { return true; }
    bool Activate() override;
    void DoEvent(TEventUI& event) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    // Read from the normal image at the window's scale: where its top row
    // turns opaque (pixels).
    int GetCornerRadius() override;
    // In high contrast the face (ContrastFace).
    RECT GetFocusRect() override;

    bool IsHot() const { return hot_; }
    bool IsPushed() const { return pushed_; }
    const std::wstring& GetNormalImage() const { return normalImage_; }
    void SetNormalImage(const std::wstring& d) { normalImage_ = d; Invalidate(); }
    void SetHotImage(const std::wstring& d) { hotImage_ = d; Invalidate(); }
    void SetPushedImage(const std::wstring& d) { pushedImage_ = d; Invalidate(); }

protected:
    int EstimateExtra() const override { return 8; }
    int ContrastTextColor() const override;
    // A button whose markup role is "link" (drawn as words, not as a face).
    bool IsLink() const { return accRole_ == L"link"; }
    // The box, grown around its middle to hold a line of text where the art
    // is slimmer (a button drawn as words); input still goes by the box.
    RECT ContrastFace() const;
    void PaintStatusImage(HDC hdc, const RECT& rcPaint) override;
    // The skin's words, or in high contrast the face's (PaintSkinText).
    void PaintText(HDC hdc) override;
    // In the hot and pushed states, the hot colour and font where the
    // markup gives them.
    void PaintSkinText(HDC hdc);
    // Draws one state image; one that cannot be drawn is dropped for good.
    bool DrawStateImage(HDC hdc, std::wstring& image, const RECT& rcPaint);

    bool hot_ = false;
    bool pushed_ = false;
    bool captured_ = false;
    bool spacePressed_ = false;
    std::wstring radiusOf_;  // the image the cached radius was read from
    UINT radiusDpi_ = 0;     // and the scale it was read at
    int radius_ = 3;
    uint32_t hotTextColor_ = 0;
    int hotFont_ = -1;
    std::wstring normalImage_;
    std::wstring hotImage_;
    std::wstring pushedImage_;
    std::wstring focusedImage_;
    std::wstring disabledImage_;
};
