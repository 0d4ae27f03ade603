#include "Ui/ContainerUI.h"

#include "Ui/HighContrast.h"
#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"

bool CContainerUI::Add(CControlUI* control) {
    if (control == nullptr) return false;
    items_.emplace_back(control);
    control->SetManager(manager_, this);
    NeedUpdate();
    return true;
}

CControlUI* CContainerUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return items_[static_cast<size_t>(index)].get();
}

int CContainerUI::GetItemIndex(const CControlUI* control) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == control) return static_cast<int>(i);
    }
    return -1;
}

void CContainerUI::SetInset(const RECT& rc) {
    inset_ = rc;
    NeedUpdate();
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    CControlUI::SetManager(manager, parent);
    for (auto& item : items_) item->SetManager(manager, this);
}

void CContainerUI::OnHide() {
    for (auto& item : items_) item->OnHide();
}

RECT CContainerUI::InnerRect() const {
    RECT rc = rcItem_;
    const RECT inset = Scaled(inset_);
    rc.left += inset.left;
    rc.top += inset.top;
    rc.right -= inset.right;
    rc.bottom -= inset.bottom;
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

// A floating child sits at the container's top-left corner (inset not
// applied) moved by pos; a negative offset counts from the right or bottom.
// Its size is the fixed width and height, else the width and height of pos.
// Both of its edges are scaled from the markup's figures, so that controls
// placed side by side stay side by side at every scale.
void CContainerUI::PlaceFloating(CControlUI* child) const {
    const RECT& pos = child->GetFloatPos();
    const int w = child->GetMarkupWidth() > 0 ? child->GetMarkupWidth() : pos.right - pos.left;
    const int h = child->GetMarkupHeight() > 0 ? child->GetMarkupHeight() : pos.bottom - pos.top;
    const int baseX = pos.left >= 0 ? rcItem_.left : rcItem_.right;
    const int baseY = pos.top >= 0 ? rcItem_.top : rcItem_.bottom;
    const int x = baseX + Scaled(pos.left), y = baseY + Scaled(pos.top);
    child->SetPos({x, y, w > 0 ? baseX + Scaled(pos.left + w) : x, h > 0 ? baseY + Scaled(pos.top + h) : y});
}

std::vector<CControlUI*> CContainerUI::PlaceFloatingAndCollectFlow() const {
    std::vector<CControlUI*> flow;
    for (const auto& item : items_) {
        if (!item->IsVisible()) continue;
        if (item->IsFloat()) PlaceFloating(item.get());
        else flow.push_back(item.get());
    }
    return flow;
}

void CContainerUI::SetPos(const RECT& rc) {
    CControlUI::SetPos(rc);
    const RECT inner = InnerRect();
    for (CControlUI* child : PlaceFloatingAndCollectFlow()) child->SetPos(inner);
}

void CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    RECT rc{};
    if (name == L"inset") {
        if (markup::ParseRect(value, rc)) inset_ = rc;
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

// Later children lie on top, so they are asked first.
CControlUI* CContainerUI::FindControlAt(POINT pt) {
    // Children are cut at this container's edges when painted.
    if (!visible_ || !::PtInRect(&rcItem_, pt)) return nullptr;
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        const CControlUI* item = it->get();
        if (!item->IsVisible()) continue;
        if (CControlUI* hit = (*it)->FindControlAt(pt)) return hit;
    }
    return this;
}

CControlUI* CContainerUI::FindControlByName(const std::wstring& name) {
    if (name_ == name) return this;
    for (auto& item : items_) {
        if (CControlUI* found = item->FindControlByName(name)) return found;
    }
    return nullptr;
}

void CContainerUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    RECT clip{};
    if (!::IntersectRect(&clip, &rcPaint, &rcItem_)) return;
    CControlUI::DoPaint(hdc, rcPaint);
    for (auto& item : items_) {
        if (!item->IsVisible()) continue;
        RECT childClip{};
        const RECT& childRc = item->GetPos();
        if (!::IntersectRect(&childClip, &clip, &childRc)) continue;
        // In high contrast a button's words may run over its tight art box
        // (CButtonUI): children are kept inside their container only.
        const RECT& limit = CHighContrast::IsOn() ? clip : childClip;
        const int saved = ::SaveDC(hdc);
        ::IntersectClipRect(hdc, limit.left, limit.top, limit.right, limit.bottom);
        item->DoPaint(hdc, childClip);
        ::RestoreDC(hdc, saved);
    }
}
