#pragma once
// A button with a selected state. In a group, selecting one deselects the
// others and a click always selects; without a group every click toggles.
// "selectchanged" follows each change (in a group only on becoming selected).
// In high contrast its box is a frame, filled while selected. Main thread only.
#include "Ui/ButtonUI.h"

class COptionUI : public CButtonUI {
public:
    const wchar_t* GetClass() const override { return L"OptionUI"; }

    bool IsSelected() const { return selected_; }
    void Selected(bool selected);
    const std::wstring& GetGroup() const { return group_; }
    void SetGroup(const std::wstring& group);

    bool Activate() override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    // An option drawn as a box and a text (no normal image) is marked
    // around those alone, not over its neighbours.
    RECT GetFocusRect() override;

protected:
    int ContrastTextColor() const override { return CLabelUI::ContrastTextColor(); }
    void PaintStatusImage(HDC hdc, const RECT& rcPaint) override;
    // Where the box (the state image placed by "dest") is; empty when the
    // images place none.
    RECT BoxRect() const;

private:
    bool selected_ = false;
    std::wstring group_;
    std::wstring selectedImage_;
    std::wstring selectedHotImage_;
};
