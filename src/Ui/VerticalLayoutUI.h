#pragma once
// Container stacking its flow children top to bottom; children without a
// height estimate share the height that is left. Main thread only.
#include "Ui/ContainerUI.h"

class CVerticalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"VerticalLayoutUI"; }
    void SetPos(const RECT& rc) override;
};
