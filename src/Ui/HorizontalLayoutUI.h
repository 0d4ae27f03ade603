#pragma once
// Container stacking its flow children left to right; children without a
// fixed width share the width that is left. Main thread only.
#include "Ui/ContainerUI.h"

class CHorizontalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"HorizontalLayoutUI"; }
    void SetPos(const RECT& rc) override;
};
