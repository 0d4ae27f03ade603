#include "Ui/OptionUI.h"

#include "Ui/MarkupValues.h"
#include "Ui/PaintManagerUI.h"

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    CButtonUI::SetManager(manager, parent);
    if (manager && !group_.empty()) manager->AddOptionGroup(group_, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
    group_ = group;
    if (manager_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::Selected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    Invalidate();
    if (manager_ == nullptr) return;
    if (!group_.empty()) {
        if (!selected_) return;
        if (const auto* members = manager_->GetOptionGroup(group_)) {
            for (CControlUI* c : *members) {
                auto* other = static_cast<COptionUI*>(c);
                if (other != this) other->Selected(false);
            }
        }
    }
    manager_->SendNotify(this, notify::kSelectChanged);
}

bool COptionUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (!group_.empty()) Selected(true);
    else Selected(!selected_);
    return CButtonUI::Activate();
}

void COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"selected") selected_ = markup::ParseBool(value);
    else if (name == L"group") group_ = value;
    else if (name == L"selectedimage") selectedImage_ = value;
    else if (name == L"selectedhotimage") selectedHotImage_ = value;
    else CButtonUI::SetAttribute(name, value);
}

void COptionUI::PaintStatusImage(HDC hdc, const RECT& rcPaint) {
    if (selected_) {
        if (hot_ && !selectedHotImage_.empty() && DrawStateImage(hdc, selectedHotImage_, rcPaint)) return;
        if (DrawStateImage(hdc, selectedImage_, rcPaint)) return;
    }
    CButtonUI::PaintStatusImage(hdc, rcPaint);
}
