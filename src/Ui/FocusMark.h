#pragma once
// The keyboard focus mark: an anti-aliased rounded ring, blue with a thin
// white rim on its outside, so that it reads on the dark hero image as well
// as on the white bars (in high contrast: the highlight colour on the
// window's). Drawn by its own coverage computation (GDI+ under
// Wine strokes paths without anti-aliasing). Main thread only.
#include <windows.h>

#include <cstdint>
#include <vector>

class CFocusMark {
public:
    static constexpr uint32_t kRingColor = 0x1E7BF0;  // RRGGBB
    static constexpr uint32_t kRimColor = 0xFFFFFF;
    // At 100%; both widths grow with the display scale.
    static constexpr float kRingWidth = 2.0f;
    static constexpr float kRimWidth = 1.2f;

    // Premultiplied 32-bit pixels of a ring filling a w x h box: its centre
    // line lies (kRimWidth + kRingWidth / 2) * scale inside the box and bends
    // with `radius` (pixels) at the corners. Colours are 0xRRGGBB.
    static std::vector<uint32_t> Render(int w, int h, float radius, float scale = 1.0f, uint32_t ring = kRingColor,
                                        uint32_t rim = kRimColor);
    // Blends the ring over `box` of hdc, within `clip`.
    static void Paint(HDC hdc, const RECT& box, float radius, float scale, const RECT& clip,
                      uint32_t ring = kRingColor, uint32_t rim = kRimColor);
};
