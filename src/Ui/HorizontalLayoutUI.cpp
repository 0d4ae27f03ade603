#include "Ui/HorizontalLayoutUI.h"

#include "Ui/StackLayout.h"

void CHorizontalLayoutUI::SetPos(const RECT& rc) {
    CControlUI::SetPos(rc);
    const RECT inner = InnerRect();
    const std::vector<CControlUI*> flow = PlaceFloatingAndCollectFlow();
    // Only a fixed width counts here; no kind of control estimates one.
    std::vector<int> estimates;
    for (CControlUI* child : flow) estimates.push_back(child->GetFixedWidth());
    const std::vector<int> widths = layout::DistributeExtents(estimates, inner.right - inner.left);
    int x = inner.left;
    for (size_t i = 0; i < flow.size(); ++i) {
        const int h = flow[i]->GetFixedHeight() > 0 ? flow[i]->GetFixedHeight() : inner.bottom - inner.top;
        flow[i]->SetPos({x, inner.top, x + widths[i], inner.top + h});
        x += widths[i];
    }
}
