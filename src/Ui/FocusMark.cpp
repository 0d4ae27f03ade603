#include "Ui/FocusMark.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Runtime/Handles.h"
#include "Ui/RenderEngine.h"

namespace {
// Signed distance from (px, py) to the outline of a rounded rectangle
// centred at the origin with half extents (hx, hy) and corner radius r.
float RoundRectDistance(float px, float py, float hx, float hy, float r) {
    const float qx = std::fabs(px) - (hx - r), qy = std::fabs(py) - (hy - r);
    const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - r;
}

// Coverage of a band [from, to] of distances by a one-pixel footprint at d.
float Band(float d, float from, float to) {
    const float a = std::clamp(d - from + 0.5f, 0.0f, 1.0f);
    const float b = std::clamp(to - d + 0.5f, 0.0f, 1.0f);
    return std::max(0.0f, a + b - 1.0f);
}
}  // namespace

std::vector<uint32_t> CFocusMark::Render(int w, int h, float radius, float scale, uint32_t ring, uint32_t rim) {
    std::vector<uint32_t> px(static_cast<size_t>(w > 0 ? w : 0) * static_cast<size_t>(h > 0 ? h : 0), 0);
    if (w <= 0 || h <= 0) return px;
    // The ring's centre line runs inside the box, far enough in for the
    // rim on its outside.
    const float ringWidth = kRingWidth * scale, rimWidth = kRimWidth * scale;
    const float inset = rimWidth + ringWidth / 2;
    const float hx = w / 2.0f - inset, hy = h / 2.0f - inset;
    if (hx <= 0 || hy <= 0) return px;
    const float r = std::clamp(radius, 0.0f, std::min(hx, hy));
    const float rr = (ring >> 16) & 0xFF, rg = (ring >> 8) & 0xFF, rb = ring & 0xFF;
    const float mr = (rim >> 16) & 0xFF, mg = (rim >> 8) & 0xFF, mb = rim & 0xFF;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float d = RoundRectDistance(x + 0.5f - w / 2.0f, y + 0.5f - h / 2.0f, hx, hy, r);
            const float on = Band(d, -ringWidth / 2, ringWidth / 2);
            const float out = Band(d, ringWidth / 2, ringWidth / 2 + rimWidth) * 0.85f * (1 - on);
            // Ring over rim, premultiplied.
            const float a = on + out;
            if (a <= 0) continue;
            const float cr = on * rr + out * mr, cg = on * rg + out * mg, cb = on * rb + out * mb;
            px[static_cast<size_t>(y) * w + x] = (static_cast<uint32_t>(a * 255 + 0.5f) << 24) |
                                                 (static_cast<uint32_t>(cr + 0.5f) << 16) |
                                                 (static_cast<uint32_t>(cg + 0.5f) << 8) | static_cast<uint32_t>(cb + 0.5f);
        }
    }
    return px;
}

void CFocusMark::Paint(HDC hdc, const RECT& box, float radius, float scale, const RECT& clip, uint32_t ring,
                       uint32_t rim) {
    const int w = box.right - box.left, h = box.bottom - box.top;
    RECT visible{};
    if (w <= 0 || h <= 0 || !::IntersectRect(&visible, &box, &clip)) return;
    const std::vector<uint32_t> pixels = Render(w, h, radius, scale, ring, rim);
    void* bits = nullptr;
    kv::UniqueMemoryDc dc(::CreateCompatibleDC(hdc));
    kv::UniqueGdiObject dib = CRenderEngine::CreateDib32(hdc, w, h, &bits);
    if (!dc || !dib) return;
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(uint32_t));
    HGDIOBJ old = ::SelectObject(dc.get(), dib.get());
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::GdiAlphaBlend(hdc, visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top, dc.get(),
                    visible.left - box.left, visible.top - box.top, visible.right - visible.left,
                    visible.bottom - visible.top, blend);
    ::SelectObject(dc.get(), old);
}
