#include "Ui/RenderEngine.h"

// GDI+ headers expect min/max and the COM declarations of windows.h.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Ui/DpiScale.h"
#include "Ui/ImageResampler.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\RenderEngine";

Gdiplus::Color ToColor(uint32_t argb) {
    return Gdiplus::Color(static_cast<BYTE>(argb >> 24), static_cast<BYTE>(argb >> 16), static_cast<BYTE>(argb >> 8),
                          static_cast<BYTE>(argb));
}

int Width(const RECT& rc) { return rc.right - rc.left; }
int Height(const RECT& rc) { return rc.bottom - rc.top; }

// One part of an image draw: src of the image into dest, repeated instead of
// stretched along the tiled directions.
struct Piece {
    RECT dest;
    RECT src;
    bool xtiled;
    bool ytiled;
};

// The same with GDI's AlphaBlend from the image's DIB (selected in
// imageDc); scaled parts are sampled from inside src only. Only the tiles
// that meet `clip` are drawn. A piece drawn at its own size skips its
// clear margins (the progress bar's images are mostly clear rows) and
// copies instead of blending where the image is opaque (the backgrounds).
void BlendPiece(HDC hdc, HDC imageDc, const Piece& piece, const RECT& clip, uint8_t fade,
                const CImageDrawCache::Coverage& coverage) {
    Piece p = piece;
    RECT inside{};
    if (!::IntersectRect(&inside, &p.src, &coverage.content)) return;  // nothing but clear pixels
    const bool unscaled = Width(p.dest) == Width(p.src) && Height(p.dest) == Height(p.src);
    if (unscaled && !p.xtiled && !p.ytiled) {
        const int dx = p.dest.left - p.src.left, dy = p.dest.top - p.src.top;
        p.src = inside;
        p.dest = {inside.left + dx, inside.top + dy, inside.right + dx, inside.bottom + dy};
    }
    const int dw = Width(p.dest), dh = Height(p.dest), sw = Width(p.src), sh = Height(p.src);
    RECT visible{};
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || !::IntersectRect(&visible, &p.dest, &clip)) return;
    if (unscaled && coverage.opaque && fade == 255 && !p.xtiled && !p.ytiled) {
        ::BitBlt(hdc, visible.left, visible.top, Width(visible), Height(visible), imageDc,
                 p.src.left + visible.left - p.dest.left, p.src.top + visible.top - p.dest.top, SRCCOPY);
        return;
    }
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
    if (!p.xtiled && !p.ytiled) {
        ::GdiAlphaBlend(hdc, p.dest.left, p.dest.top, dw, dh, imageDc, p.src.left, p.src.top, sw, sh, blend);
        return;
    }
    const int stepX = p.xtiled ? sw : dw;
    const int stepY = p.ytiled ? sh : dh;
    const CRenderEngine::Span rows = CRenderEngine::TileSpan(p.dest.top, p.dest.bottom, stepY, visible.top, visible.bottom);
    const CRenderEngine::Span cols =
        CRenderEngine::TileSpan(p.dest.left, p.dest.right, stepX, visible.left, visible.right);
    for (int y = rows.first; y < rows.end; y += stepY) {
        const int h = std::min(stepY, static_cast<int>(p.dest.bottom - y));
        const int srcH = p.ytiled ? h : sh;
        for (int x = cols.first; x < cols.end; x += stepX) {
            const int w = std::min(stepX, static_cast<int>(p.dest.right - x));
            const int srcW = p.xtiled ? w : sw;
            ::GdiAlphaBlend(hdc, x, y, w, h, imageDc, p.src.left, p.src.top, srcW, srcH, blend);
        }
    }
}

// Draws a part with GDI+ (colour keys, rounded clips, and painting with
// caching off); only the tiles that meet `clip` are drawn.
void DrawPart(Gdiplus::Graphics& g, Gdiplus::Bitmap* image, const Piece& piece, const RECT& clip,
              Gdiplus::ImageAttributes* attr, CImageDrawCache* parts) {
    const RECT& dest = piece.dest;
    const RECT& src = piece.src;
    const bool xtiled = piece.xtiled, ytiled = piece.ytiled;
    const int dw = Width(dest), dh = Height(dest), sw = Width(src), sh = Height(src);
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    RECT visible{};
    if (!::IntersectRect(&visible, &dest, &clip)) return;
    if (!xtiled && !ytiled) {
        const bool whole = src.left == 0 && src.top == 0 && sw == static_cast<int>(image->GetWidth()) &&
                           sh == static_cast<int>(image->GetHeight());
        if (!whole && (sw != dw || sh != dh)) {
            // Scaling samples neighbouring pixels; a private copy of the part
            // keeps pixels from outside it from bleeding in at the edges.
            std::unique_ptr<Gdiplus::Bitmap> own;
            Gdiplus::Bitmap* part = parts ? parts->Part(image, src) : nullptr;
            if (parts == nullptr) {
                own.reset(image->Clone(src.left, src.top, sw, sh, PixelFormat32bppPARGB));
                if (own && own->GetLastStatus() == Gdiplus::Ok) part = own.get();
            }
            if (part) {
                g.DrawImage(part, Gdiplus::Rect(dest.left, dest.top, dw, dh), 0, 0, sw, sh, Gdiplus::UnitPixel, attr);
                return;
            }
        }
        g.DrawImage(image, Gdiplus::Rect(dest.left, dest.top, dw, dh), src.left, src.top, sw, sh, Gdiplus::UnitPixel,
                    attr);
        return;
    }
    const int stepX = xtiled ? sw : dw;
    const int stepY = ytiled ? sh : dh;
    const CRenderEngine::Span rows = CRenderEngine::TileSpan(dest.top, dest.bottom, stepY, visible.top, visible.bottom);
    const CRenderEngine::Span cols =
        CRenderEngine::TileSpan(dest.left, dest.right, stepX, visible.left, visible.right);
    for (int y = rows.first; y < rows.end; y += stepY) {
        const int h = std::min(stepY, static_cast<int>(dest.bottom - y));
        const int srcH = ytiled ? h : sh;
        for (int x = cols.first; x < cols.end; x += stepX) {
            const int w = std::min(stepX, static_cast<int>(dest.right - x));
            const int srcW = xtiled ? w : sw;
            g.DrawImage(image, Gdiplus::Rect(x, y, w, h), src.left, src.top, srcW, srcH, Gdiplus::UnitPixel, attr);
        }
    }
}

}  // namespace

bool CRenderEngine::EnsureGdiplus() {
    static bool started = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        const bool ok = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
        if (!ok) KV_LOG(kToConsole | kToFile, Error, L"CRenderEngine::EnsureGdiplus GDI+ did not start");
        return ok;
    }();
    return started;
}

std::unique_ptr<Gdiplus::Bitmap> CRenderEngine::DecodeImage(const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF || !EnsureGdiplus()) return nullptr;
    IStream* stream = ::SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    if (stream == nullptr) return nullptr;
    std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream));
    std::unique_ptr<Gdiplus::Bitmap> copy;
    if (decoded && decoded->GetLastStatus() == Gdiplus::Ok && decoded->GetWidth() > 0 && decoded->GetHeight() > 0) {
        // A private premultiplied copy: independent of the stream, and the
        // fastest format for repeated drawing.
        const int w = static_cast<int>(decoded->GetWidth()), h = static_cast<int>(decoded->GetHeight());
        copy = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppPARGB);
        Gdiplus::Graphics g(copy.get());
        g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        g.DrawImage(decoded.get(), Gdiplus::Rect(0, 0, w, h), 0, 0, w, h, Gdiplus::UnitPixel);
    }
    decoded.reset();
    stream->Release();
    return copy;
}

std::unique_ptr<Gdiplus::Bitmap> CRenderEngine::Resize(Gdiplus::Bitmap* image, int w, int h) {
    if (image == nullptr || w <= 0 || h <= 0) return nullptr;
    const int sw = static_cast<int>(image->GetWidth()), sh = static_cast<int>(image->GetHeight());
    Gdiplus::BitmapData in{};
    Gdiplus::Rect all(0, 0, sw, sh);
    if (image->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &in) != Gdiplus::Ok) return nullptr;
    const std::vector<uint32_t> pixels =
        in.Stride > 0 && in.Stride % 4 == 0
            ? CImageResampler::Resample(static_cast<const uint32_t*>(in.Scan0), sw, sh, in.Stride / 4, w, h)
            : std::vector<uint32_t>();
    image->UnlockBits(&in);
    if (pixels.empty()) return nullptr;
    auto out = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppPARGB);
    Gdiplus::BitmapData data{};
    Gdiplus::Rect target(0, 0, w, h);
    if (out->GetLastStatus() != Gdiplus::Ok ||
        out->LockBits(&target, Gdiplus::ImageLockModeWrite, PixelFormat32bppPARGB, &data) != Gdiplus::Ok) {
        return nullptr;
    }
    for (int y = 0; y < h; ++y) {
        std::memcpy(static_cast<uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    pixels.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w) * 4);
    }
    out->UnlockBits(&data);
    return out;
}

ImageDrawSettings CRenderEngine::ScaleSettings(const ImageDrawSettings& settings, UINT dpi) {
    if (dpi == CDpiScale::kBaseDpi) return settings;
    ImageDrawSettings s = settings;
    s.dest = CDpiScale::Scale(s.dest, dpi);
    s.rdest = CDpiScale::Scale(s.rdest, dpi);
    s.source = CDpiScale::Scale(s.source, dpi);
    s.corner = CDpiScale::Scale(s.corner, dpi);
    s.centerRect = CDpiScale::Scale(s.centerRect, dpi);
    s.roundCorner = CDpiScale::Scale(s.roundCorner, dpi);
    return s;
}

RECT CRenderEngine::ImageTarget(const RECT& rcItem, SIZE imageSize, const ImageDrawSettings& s, RECT& source) {
    RECT dest = rcItem;
    if (s.hasDest) {
        dest = {rcItem.left + s.dest.left, rcItem.top + s.dest.top, rcItem.left + s.dest.right,
                rcItem.top + s.dest.bottom};
    }
    if (s.hasRdest) {
        dest = {rcItem.right + s.rdest.left, rcItem.bottom + s.rdest.top, rcItem.right + s.rdest.right,
                rcItem.bottom + s.rdest.bottom};
    }
    if (s.hasDest || s.hasRdest) {
        dest.right = std::min(dest.right, rcItem.right);
        dest.bottom = std::min(dest.bottom, rcItem.bottom);
    }
    source = s.source;
    if (source.left == 0 && source.top == 0 && source.right == 0 && source.bottom == 0) {
        source = {0, 0, imageSize.cx, imageSize.cy};
    }
    source.right = std::min(source.right, imageSize.cx);
    source.bottom = std::min(source.bottom, imageSize.cy);

    if (!s.stretch) {
        const int sw = Width(source), sh = Height(source), dw = Width(dest), dh = Height(dest);
        if (s.center) {
            if (sw < dw && sh < dh) {
                dest.left += (dw - sw) / 2;
                dest.top += (dh - sh) / 2;
                dest.right = dest.left + sw;
                dest.bottom = dest.top + sh;
            }
        } else if (sw > 0 && sh > 0 && dw > 0 && dh > 0) {
            // Largest size with the image's proportions that fits the target.
            if (static_cast<long long>(sw) * dh > static_cast<long long>(sh) * dw) {
                const int h = static_cast<int>(static_cast<long long>(sh) * dw / sw);
                dest.top += (dh - h) / 2;
                dest.bottom = dest.top + h;
            } else {
                const int w = static_cast<int>(static_cast<long long>(sw) * dh / sh);
                dest.left += (dw - w) / 2;
                dest.right = dest.left + w;
            }
        }
    }
    return dest;
}

CRenderEngine::Span CRenderEngine::TileSpan(int destStart, int destEnd, int step, int clipStart, int clipEnd) {
    Span span{destStart, destEnd < clipEnd ? destEnd : clipEnd};
    // Tiles stay aligned to the destination's origin: skip whole steps.
    if (step > 0 && clipStart > destStart) span.first = destStart + (clipStart - destStart) / step * step;
    return span;
}

bool CRenderEngine::DrawImage(HDC hdc, Gdiplus::Bitmap* image, const RECT& rcItem, const RECT& rcPaint,
                              const ImageDrawSettings& s, CImageDrawCache* cache) {
    if (image == nullptr) return false;
    const SIZE size{static_cast<LONG>(image->GetWidth()), static_cast<LONG>(image->GetHeight())};
    RECT src{};
    const RECT dest = ImageTarget(rcItem, size, s, src);
    RECT visible{}, clip{};
    if (!::IntersectRect(&visible, &dest, &rcItem) || !::IntersectRect(&clip, &visible, &rcPaint)) return false;
    if (Width(src) <= 0 || Height(src) <= 0) return false;

    // Nine-part borders, from "corner" or derived from "centerrect".
    RECT corner = s.corner;
    if (s.hasCenterRect) {
        corner = {s.centerRect.left, s.centerRect.top, Width(src) - s.centerRect.right,
                  Height(src) - s.centerRect.bottom};
    }
    const int sw = Width(src), sh = Height(src), dw = Width(dest), dh = Height(dest);
    corner.left = std::clamp<LONG>(corner.left, 0, sw);
    corner.right = std::clamp<LONG>(corner.right, 0, sw - corner.left);
    corner.top = std::clamp<LONG>(corner.top, 0, sh);
    corner.bottom = std::clamp<LONG>(corner.bottom, 0, sh - corner.top);
    // A target smaller than the borders shrinks them proportionally.
    if (corner.left + corner.right > dw && corner.left + corner.right > 0) {
        const int l = static_cast<int>(static_cast<long long>(corner.left) * dw / (corner.left + corner.right));
        corner.right = dw - l;
        corner.left = l;
    }
    if (corner.top + corner.bottom > dh && corner.top + corner.bottom > 0) {
        const int t = static_cast<int>(static_cast<long long>(corner.top) * dh / (corner.top + corner.bottom));
        corner.bottom = dh - t;
        corner.top = t;
    }
    std::vector<Piece> pieces;
    if (!(corner.left || corner.top || corner.right || corner.bottom)) {
        pieces.push_back({dest, src, s.xtiled, s.ytiled});
    } else {
        const LONG dx[4] = {dest.left, dest.left + corner.left, dest.right - corner.right, dest.right};
        const LONG dy[4] = {dest.top, dest.top + corner.top, dest.bottom - corner.bottom, dest.bottom};
        const LONG sx[4] = {src.left, src.left + corner.left, src.right - corner.right, src.right};
        const LONG sy[4] = {src.top, src.top + corner.top, src.bottom - corner.bottom, src.bottom};
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                const bool middle = row == 1 && col == 1;
                if (middle && s.hole) continue;
                pieces.push_back({{dx[col], dy[row], dx[col + 1], dy[row + 1]},
                                  {sx[col], sy[row], sx[col + 1], sy[row + 1]},
                                  middle && s.xtiled,
                                  middle && s.ytiled});
            }
        }
    }

    // Fast path: GDI blends the image's cached DIB, clipped by the DC. A
    // colour key and a rounded clip need GDI+.
    const bool rounded = s.roundCorner.cx > 0 && s.roundCorner.cy > 0;
    if (cache && !s.hasMask && !rounded) {
        CImageDrawCache::Coverage coverage;
        if (HDC imageDc = cache->SelectImage(image, &coverage)) {
            const int saved = ::SaveDC(hdc);
            ::IntersectClipRect(hdc, clip.left, clip.top, clip.right, clip.bottom);
            for (const Piece& p : pieces) BlendPiece(hdc, imageDc, p, clip, s.fade, coverage);
            ::RestoreDC(hdc, saved);
            return true;
        }
    }

    Gdiplus::Graphics g(hdc);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetInterpolationMode(Gdiplus::InterpolationModeBilinear);
    g.SetClip(Gdiplus::Rect(clip.left, clip.top, Width(clip), Height(clip)));
    if (rounded) {
        const int rx = s.roundCorner.cx * 2, ry = s.roundCorner.cy * 2;
        Gdiplus::GraphicsPath path;
        path.AddArc(dest.left, dest.top, rx, ry, 180, 90);
        path.AddArc(dest.right - rx, dest.top, rx, ry, 270, 90);
        path.AddArc(dest.right - rx, dest.bottom - ry, rx, ry, 0, 90);
        path.AddArc(dest.left, dest.bottom - ry, rx, ry, 90, 90);
        path.CloseFigure();
        g.SetClip(&path, Gdiplus::CombineModeIntersect);
    }
    Gdiplus::ImageAttributes attr;
    attr.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    if (s.fade < 255) {
        Gdiplus::ColorMatrix m = {{{1, 0, 0, 0, 0},
                                   {0, 1, 0, 0, 0},
                                   {0, 0, 1, 0, 0},
                                   {0, 0, 0, s.fade / 255.0f, 0},
                                   {0, 0, 0, 0, 1}}};
        attr.SetColorMatrix(&m);
    }
    if (s.hasMask) attr.SetColorKey(ToColor(s.mask), ToColor(s.mask));
    for (const Piece& p : pieces) DrawPart(g, image, p, clip, &attr, cache);
    return true;
}

void CRenderEngine::FillColor(HDC hdc, const RECT& rc, uint32_t argb) {
    if ((argb >> 24) == 0 || Width(rc) <= 0 || Height(rc) <= 0) return;
    if ((argb >> 24) == 0xFF) {
        kv::UniqueGdiObject brush(::CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)));
        ::FillRect(hdc, &rc, static_cast<HBRUSH>(brush.get()));
        return;
    }
    if (!EnsureGdiplus()) return;
    Gdiplus::Graphics g(hdc);
    Gdiplus::SolidBrush brush(ToColor(argb));
    g.FillRectangle(&brush, rc.left, rc.top, Width(rc), Height(rc));
}

void CRenderEngine::DrawBorder(HDC hdc, const RECT& rc, uint32_t argb, int size) {
    if ((argb >> 24) == 0 || size <= 0) return;
    const RECT edges[4] = {{rc.left, rc.top, rc.right, rc.top + size},
                           {rc.left, rc.bottom - size, rc.right, rc.bottom},
                           {rc.left, rc.top + size, rc.left + size, rc.bottom - size},
                           {rc.right - size, rc.top + size, rc.right, rc.bottom - size}};
    for (const RECT& e : edges) FillColor(hdc, e, argb);
}

void CRenderEngine::DrawText(HDC hdc, const RECT& rc, const std::wstring& text, uint32_t argb, HFONT font,
                             UINT style) {
    if (text.empty() || Width(rc) <= 0 || Height(rc) <= 0) return;
    RECT box = rc;
    const int oldMode = ::SetBkMode(hdc, TRANSPARENT);
    const COLORREF oldColor = ::SetTextColor(hdc, RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
    HGDIOBJ oldFont = font ? ::SelectObject(hdc, font) : nullptr;
    if (style & DT_WORDBREAK) {
        const std::vector<std::wstring> lines = WrapText(hdc, text, Width(rc));
        TEXTMETRICW tm{};
        ::GetTextMetricsW(hdc, &tm);
        const int lineHeight = tm.tmHeight > 0 ? tm.tmHeight : Height(rc);
        const int spare = Height(rc) - lineHeight * static_cast<int>(lines.size());
        // A block taller than the rectangle shows its beginning; nothing is
        // drawn outside the rectangle, unless DT_NOCLIP says so: then the
        // block stays centred and runs over.
        const bool clip = (style & DT_NOCLIP) == 0;
        int top = rc.top;
        if ((spare > 0 || !clip) && (style & DT_VCENTER)) top += spare / 2;
        else if (spare > 0 && (style & DT_BOTTOM)) top += spare;
        const UINT lineStyle = (style & (DT_LEFT | DT_CENTER | DT_RIGHT | DT_NOCLIP)) | DT_SINGLELINE | DT_NOPREFIX;
        for (const std::wstring& line : lines) {
            if (clip && top >= rc.bottom) break;
            RECT lineBox{rc.left, top, rc.right, clip ? std::min(top + lineHeight, static_cast<int>(rc.bottom)) : top + lineHeight};
            ::DrawTextW(hdc, line.c_str(), static_cast<int>(line.size()), &lineBox, lineStyle);
            top += lineHeight;
        }
    } else {
        ::DrawTextW(hdc, text.c_str(), static_cast<int>(text.size()), &box, style | DT_SINGLELINE | DT_NOPREFIX);
    }
    if (oldFont) ::SelectObject(hdc, oldFont);
    ::SetTextColor(hdc, oldColor);
    ::SetBkMode(hdc, oldMode);
}

namespace {
bool IsWide(wchar_t c) { return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF); }
// Punctuation that ends a phrase: a line may end right after it.
bool IsPhraseEnd(wchar_t c) { return wcschr(L"\x3001\x3002\xFF0C\xFF1B\xFF1A\xFF1F\xFF01,;:?!)", c) != nullptr; }
// Punctuation that must not begin a line.
bool IsLineStartForbidden(wchar_t c) { return IsPhraseEnd(c) || wcschr(L"\x300B\x300D\xFF09\x201D.", c) != nullptr; }
// Whether a line may end between text[i - 1] and text[i].
bool CanBreakBefore(const std::wstring& text, size_t i) {
    const wchar_t before = text[i - 1], after = text[i];
    if (IsLineStartForbidden(after)) return false;
    return before == L' ' || IsPhraseEnd(before) || IsWide(before) || IsWide(after);
}
}  // namespace

std::vector<std::wstring> CRenderEngine::WrapText(HDC hdc, const std::wstring& text, int width) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        const int left = static_cast<int>(text.size() - start);
        int fit = 0;
        SIZE extent{};
        if (!::GetTextExtentExPointW(hdc, text.c_str() + start, left, std::max(width, 1), &fit, nullptr, &extent)) {
            fit = left;
        }
        if (fit >= left) {
            lines.push_back(text.substr(start));
            break;
        }
        const size_t limit = start + std::max(fit, 1);
        // The last allowed break in the line, a phrase end in its second half
        // first; none at all (one long word): cut where the width ends.
        size_t cut = 0, phraseCut = 0;
        for (size_t i = limit; i > start; --i) {
            if (!CanBreakBefore(text, i)) continue;
            if (cut == 0) cut = i;
            if (IsPhraseEnd(text[i - 1]) && i - start > static_cast<size_t>(fit) / 2) {
                phraseCut = i;
                break;
            }
        }
        if (phraseCut != 0) cut = phraseCut;
        if (cut == 0) cut = limit;
        std::wstring line = text.substr(start, cut - start);
        while (!line.empty() && line.back() == L' ') line.pop_back();
        lines.push_back(line);
        start = cut;
        while (start < text.size() && text[start] == L' ') ++start;
    }
    return lines;
}

kv::UniqueGdiObject CRenderEngine::CreateDib32(HDC dc, int w, int h, void** bits) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;  // top-down rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    *bits = nullptr;
    kv::UniqueGdiObject dib(::CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, bits, nullptr, 0));
    if (*bits == nullptr) dib.reset();
    return dib;
}
