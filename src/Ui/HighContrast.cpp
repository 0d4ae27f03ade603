#include "Ui/HighContrast.h"

bool CHighContrast::s_on = false;
CHighContrast::Query CHighContrast::s_query = nullptr;

void CHighContrast::Refresh() {
    if (s_query) {
        s_on = s_query();
        return;
    }
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof(hc);
    s_on = ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

uint32_t CHighContrast::Color(int index) {
    const COLORREF c = ::GetSysColor(index);
    return 0xFF000000u | (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) |
           GetBValue(c);
}
