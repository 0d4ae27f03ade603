#pragma once
// A label with a value between min and max (0..100 by default), drawn as a
// fore image over the matching part of its area. Main thread only.
#include "Ui/LabelUI.h"

class CProgressUI : public CLabelUI {
public:
    const wchar_t* GetClass() const override { return L"ProgressUI"; }

    int GetMinValue() const { return min_; }
    int GetMaxValue() const { return max_; }
    int GetValue() const { return value_; }
    void SetMinValue(int v);
    void SetMaxValue(int v);
    // A value outside [min, max] leaves the value unchanged; a change is
    // told to screen readers (at most once a second).
    void SetValue(int v);

    // Replaces the background description when only the columns [left,
    // right) of the bar (at 100%) look different: only they are repainted.
    void SetBkImageChangingColumns(const std::wstring& description, int left, int right);

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;

protected:
    void PaintStatusImage(HDC hdc, const RECT& rcPaint) override;

private:
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    bool horizontal_ = true;
    std::wstring foreImage_;
};
