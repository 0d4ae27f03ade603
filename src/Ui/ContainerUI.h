#pragma once
// Container of child controls (owned): inset, floating placement, painting
// and lookup of children. As a plain `Container` every flow child fills the
// inner area. Main thread only.
#include <memory>
#include <vector>

#include "Ui/ControlUI.h"

class CContainerUI : public CControlUI {
public:
    const wchar_t* GetClass() const override { return L"ContainerUI"; }

    // Takes ownership of the child.
    virtual bool Add(CControlUI* control);
    int GetCount() const { return static_cast<int>(items_.size()); }
    CControlUI* GetItemAt(int index) const;
    int GetItemIndex(const CControlUI* control) const;
    const RECT& GetInset() const { return inset_; }  // at 96 DPI
    void SetInset(const RECT& rc);

    void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
    void SetPos(const RECT& rc) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    CControlUI* FindControlAt(POINT pt) override;
    CControlUI* FindControlByName(const std::wstring& name) override;
    void DoPaint(HDC hdc, const RECT& rcPaint) override;

    void OnHide() override;

protected:
    // The rectangle less the inset.
    RECT InnerRect() const;
    // Places a floating child relative to this container's top-left corner.
    void PlaceFloating(CControlUI* child) const;
    // Places the visible floating children and returns the visible ones that
    // take part in the flow, in order.
    std::vector<CControlUI*> PlaceFloatingAndCollectFlow() const;

    std::vector<std::unique_ptr<CControlUI>> items_;
    RECT inset_{};
};
