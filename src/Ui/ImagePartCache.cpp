#include "Ui/ImagePartCache.h"

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

CImagePartCache::CImagePartCache() = default;
CImagePartCache::~CImagePartCache() = default;

Gdiplus::Bitmap* CImagePartCache::Part(Gdiplus::Bitmap* image, const RECT& src) {
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

void CImagePartCache::Clear() { parts_.clear(); }
