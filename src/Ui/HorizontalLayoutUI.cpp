#include "Ui/HorizontalLayoutUI.h"

#include "Ui/StackLayout.h"

void CHorizontalLayoutUI::SetPos(const RECT& rc) {
    CControlUI::SetPos(rc);
    const RECT inner = InnerRect();
    std::vector<CControlUI*> flow;
    std::vector<int> estimates;
    for (auto& item : items_) {
        if (!item->IsVisible()) continue;
        if (item->IsFloat()) {
            PlaceFloating(item.get());
            continue;
        }
        // Only a fixed width counts here; no kind of control estimates one.
        flow.push_back(item.get());
        estimates.push_back(item->GetFixedWidth());
    }
    const std::vector<int> widths = layout::DistributeExtents(estimates, inner.right - inner.left);
    int x = inner.left;
    for (size_t i = 0; i < flow.size(); ++i) {
        const int h = flow[i]->GetFixedHeight() > 0 ? flow[i]->GetFixedHeight() : inner.bottom - inner.top;
        flow[i]->SetPos({x, inner.top, x + widths[i], inner.top + h});
        x += widths[i];
    }
}
