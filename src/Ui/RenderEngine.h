#pragma once
// Drawing primitives of the skinned controls: PNG decoding and image drawing
// with GDI+ (source/dest rectangles, nine-part scaling, tiling, fade, mask,
// rounded clip), colour fills, borders and GDI text (one line, or wrapped).
// Main thread only.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Runtime/Handles.h"
#include "Ui/ImageDescription.h"
#include "Ui/ImageDrawCache.h"

namespace Gdiplus {
class Bitmap;
}

class CRenderEngine {
public:
    // Starts GDI+ once per process; false when it is unavailable.
    static bool EnsureGdiplus();
    // Decodes PNG (or any GDI+ format) bytes into a premultiplied 32-bit
    // bitmap; null when the bytes are not an image.
    static std::unique_ptr<Gdiplus::Bitmap> DecodeImage(const std::vector<uint8_t>& bytes);
    // A premultiplied copy of `image` resized to w x h (CImageResampler);
    // null on failure.
    static std::unique_ptr<Gdiplus::Bitmap> Resize(Gdiplus::Bitmap* image, int w, int h);
    // The settings of an image description (written at 96 DPI) for an image
    // whose pixels are device pixels at `dpi`: every offset, source
    // rectangle, border and corner multiplied by the scale.
    static ImageDrawSettings ScaleSettings(const ImageDrawSettings& settings, UINT dpi);

    // Draws `image` for a control at `rcItem` with the given settings,
    // limited to `rcPaint`. With a cache it blends the image's kept DIB
    // through GDI (scaled parts sampled nearest-neighbour); without one, or
    // for a colour key or rounded clip, it draws with GDI+ (bilinear).
    // Returns false when nothing needed drawing.
    static bool DrawImage(HDC hdc, Gdiplus::Bitmap* image, const RECT& rcItem, const RECT& rcPaint,
                          const ImageDrawSettings& settings, CImageDrawCache* cache = nullptr);
    // Tiles of `step` laid from destStart up to destEnd: the first tile
    // start and the end that cover [clipStart, clipEnd) (exposed for tests).
    struct Span {
        int first;
        int end;
    };
    static Span TileSpan(int destStart, int destEnd, int step, int clipStart, int clipEnd);
    // The target rectangle that DrawImage would use (exposed for tests).
    static RECT ImageTarget(const RECT& rcItem, SIZE imageSize, const ImageDrawSettings& settings, RECT& source);

    // A top-down 32-bit DIB section of w x h pixels compatible with `dc`
    // (null: the screen); `bits` receives its pixels. Empty on failure.
    static kv::UniqueGdiObject CreateDib32(HDC dc, int w, int h, void** bits);

    static void FillColor(HDC hdc, const RECT& rc, uint32_t argb);
    static void DrawBorder(HDC hdc, const RECT& rc, uint32_t argb, int size);
    // One line unless `style` has DT_WORDBREAK: then wrapped (WrapText) and
    // the block of lines aligned as DT_VCENTER / DT_BOTTOM say (with
    // DT_NOCLIP a taller block stays centred and runs over the rectangle).
    static void DrawText(HDC hdc, const RECT& rc, const std::wstring& text, uint32_t argb, HFONT font, UINT style);
    // The lines of `text` no wider than `width` in the font selected into
    // `hdc`. Breaks go between Chinese characters, after spaces and after
    // punctuation, never inside a Latin word unless it is wider than a line;
    // a break after punctuation in the line's second half is preferred, so
    // that a question ends its first line at its comma.
    static std::vector<std::wstring> WrapText(HDC hdc, const std::wstring& text, int width);
};
