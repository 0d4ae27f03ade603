#include "Ui/VerticalLayoutUI.h"

#include "Ui/StackLayout.h"

void CVerticalLayoutUI::SetPos(const RECT& rc) {
    CControlUI::SetPos(rc);
    const RECT inner = InnerRect();
    const std::vector<CControlUI*> flow = PlaceFloatingAndCollectFlow();
    std::vector<int> estimates;
    for (CControlUI* child : flow) {
        const int h = child->EstimateSize().cy;
        estimates.push_back(h > 0 ? h : 0);
    }
    const std::vector<int> heights = layout::DistributeExtents(estimates, inner.bottom - inner.top);
    int y = inner.top;
    for (size_t i = 0; i < flow.size(); ++i) {
        const int w = flow[i]->GetFixedWidth() > 0 ? flow[i]->GetFixedWidth() : inner.right - inner.left;
        flow[i]->SetPos({inner.left, y, inner.left + w, y + heights[i]});
        y += heights[i];
    }
}
