#include "Ui/TabLayoutUI.h"

#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"

void CTabLayoutUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    CContainerUI::SetManager(manager, parent);
    // Once the tree is complete, show the first page without notifying.
    if (curSel_ < 0 && !items_.empty()) {
        curSel_ = initialSel_ >= 0 && initialSel_ < GetCount() ? initialSel_ : 0;
        for (int i = 0; i < GetCount(); ++i) items_[static_cast<size_t>(i)]->SetVisible(i == curSel_);
    }
}

bool CTabLayoutUI::Add(CControlUI* control) {
    if (!CContainerUI::Add(control)) return false;
    if (curSel_ >= 0) {
        control->SetVisible(false);
    } else if (manager_) {
        curSel_ = GetCount() - 1;  // the first page of a layout attached while empty
    }
    return true;
}

bool CTabLayoutUI::SelectItem(int index) {
    if (index < 0 || index >= GetCount()) return false;
    if (index == curSel_) return true;
    const int old = curSel_;
    curSel_ = index;
    for (int i = 0; i < GetCount(); ++i) items_[static_cast<size_t>(i)]->SetVisible(i == index);
    NeedUpdate();
    if (manager_) {
        manager_->SetFocus(nullptr);
        manager_->GetAccessibleEvents().Reorder();
        manager_->SendNotify(this, notify::kTabSelect, static_cast<WPARAM>(index), static_cast<LPARAM>(old));
    }
    return true;
}

void CTabLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    int n = 0;
    if (name == L"selectedid") {
        if (markup::ParseInt(value, n)) initialSel_ = n;
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}
