#pragma once
// A control that draws its text in a markup font, colour, alignment and
// padding: on one line, or wrapped with multiline="true". Main thread only.
#include "Ui/ControlUI.h"

class CLabelUI : public CControlUI {
public:
    CLabelUI() = default;
    const wchar_t* GetClass() const override { return L"LabelUI"; }

    int GetFont() const { return font_; }
    void SetFont(int index);
    uint32_t GetTextColor() const { return textColor_; }
    void SetTextColor(uint32_t argb);
    const RECT& GetTextPadding() const { return textPadding_; }  // at 96 DPI
    UINT GetTextStyle() const { return textStyle_; }
    // Applies an "align" value (see the .cpp for the word rules).
    void SetAlign(const std::wstring& value);

    // The text's width on one line in the label's font at the window's
    // scale (pixels), padding not included.
    int TextWidth() const;

    SIZE EstimateSize() const override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;

protected:
    void PaintText(HDC hdc) override;
    // Added to the font height for the height estimate (at 96 DPI).
    virtual int EstimateExtra() const { return 4; }
    // The text as painted (a password box paints dots).
    virtual std::wstring PaintedText() const { return GetText(); }
    // The system colour (COLOR_*) of the text in high contrast.
    virtual int ContrastTextColor() const { return enabled_ ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT; }
    RECT TextRect() const;

    int font_ = -1;
    uint32_t textColor_ = 0;
    uint32_t disabledTextColor_ = 0;
    RECT textPadding_{};
    UINT textStyle_ = DT_LEFT | DT_VCENTER;
};
