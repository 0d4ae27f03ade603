#pragma once
// Container showing one child (page) at a time over its inner area.
// Main thread only.
#include "Ui/ContainerUI.h"

class CTabLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"TabLayoutUI"; }

    int GetCurSel() const { return curSel_; }
    // Shows page `index`, hides the others, lays out again, tells screen
    // readers and sends "tabselect"; false when the index is not below the
    // page count.
    bool SelectItem(int index);

    // A page added once a page is shown starts hidden.
    bool Add(CControlUI* control) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;

private:
    int curSel_ = -1;
    int initialSel_ = 0;
};
