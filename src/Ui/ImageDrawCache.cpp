#include "Ui/ImageDrawCache.h"

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <cstring>

#include "Ui/RenderEngine.h"

CImageDrawCache::CImageDrawCache() = default;

CImageDrawCache::~CImageDrawCache() { Clear(); }

HDC CImageDrawCache::SelectImage(Gdiplus::Bitmap* image, Coverage* coverage) {
    if (image == nullptr) return nullptr;
    if (!dc_) {
        dc_.reset(::CreateCompatibleDC(nullptr));
        if (!dc_) return nullptr;
    }
    auto it = dibs_.find(image);
    if (it == dibs_.end()) {
        const int w = static_cast<int>(image->GetWidth()), h = static_cast<int>(image->GetHeight());
        void* bits = nullptr;
        kv::UniqueGdiObject dib = CRenderEngine::CreateDib32(nullptr, w, h, &bits);
        if (!dib) return nullptr;
        // The decoded images are premultiplied already: AlphaBlend's format.
        Gdiplus::BitmapData data{};
        Gdiplus::Rect all(0, 0, w, h);
        if (image->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) != Gdiplus::Ok) {
            return nullptr;
        }
        Dib entry;
        RECT& content = entry.coverage.content;
        content = {w, h, 0, 0};
        bool opaque = true;
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(data.Scan0) +
                                                                static_cast<ptrdiff_t>(y) * data.Stride);
            std::memcpy(static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * w * 4, row, static_cast<size_t>(w) * 4);
            for (int x = 0; x < w; ++x) {
                const uint32_t alpha = row[x] >> 24;
                opaque = opaque && alpha == 255;
                if (alpha == 0) continue;
                content.left = std::min<LONG>(content.left, x);
                content.right = std::max<LONG>(content.right, x + 1);
                content.top = std::min<LONG>(content.top, y);
                content.bottom = y + 1;
            }
        }
        image->UnlockBits(&data);
        if (content.right <= content.left) content = {};
        entry.coverage.opaque = opaque;
        entry.bitmap = std::move(dib);
        it = dibs_.emplace(image, std::move(entry)).first;
    }
    HGDIOBJ old = ::SelectObject(dc_.get(), it->second.bitmap.get());
    if (dcOriginal_ == nullptr) dcOriginal_ = old;
    if (coverage) *coverage = it->second.coverage;
    return dc_.get();
}

Gdiplus::Bitmap* CImageDrawCache::Part(Gdiplus::Bitmap* image, const RECT& src) {
    if (image == nullptr) return nullptr;
    const Key key{image, src.left, src.top, src.right, src.bottom};
    auto it = parts_.find(key);
    if (it != parts_.end()) return it->second.get();
    std::unique_ptr<Gdiplus::Bitmap> part(
        image->Clone(static_cast<INT>(src.left), static_cast<INT>(src.top), static_cast<INT>(src.right - src.left),
                     static_cast<INT>(src.bottom - src.top), PixelFormat32bppPARGB));
    if (!part || part->GetLastStatus() != Gdiplus::Ok) return nullptr;
    if (parts_.size() >= kMaxParts) parts_.clear();
    Gdiplus::Bitmap* raw = part.get();
    parts_[key] = std::move(part);
    return raw;
}

void CImageDrawCache::Clear() {
    parts_.clear();
    // The DIBs must leave the memory DC before they are deleted.
    if (dc_ && dcOriginal_) ::SelectObject(dc_.get(), dcOriginal_);
    dcOriginal_ = nullptr;
    dibs_.clear();
}
