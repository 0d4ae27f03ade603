#pragma once
// Private copies of image parts that are drawn scaled (a scaled draw samples
// neighbouring pixels, so the part must not see the rest of the image). Made
// once per image and source rectangle and kept by the paint manager next to
// the images they come from. Main thread only.
#include <windows.h>

#include <map>
#include <memory>
#include <tuple>

namespace Gdiplus {
class Bitmap;
}

class CImagePartCache {
public:
    // Cap on kept parts; past it the cache starts again empty.
    static constexpr size_t kMaxParts = 512;

    CImagePartCache();
    ~CImagePartCache();
    CImagePartCache(const CImagePartCache&) = delete;
    CImagePartCache& operator=(const CImagePartCache&) = delete;

    // The copy of `src` of `image`; null when it cannot be made.
    Gdiplus::Bitmap* Part(Gdiplus::Bitmap* image, const RECT& src);
    void Clear();
    size_t Size() const { return parts_.size(); }

private:
    using Key = std::tuple<const void*, LONG, LONG, LONG, LONG>;
    std::map<Key, std::unique_ptr<Gdiplus::Bitmap>> parts_;
};
