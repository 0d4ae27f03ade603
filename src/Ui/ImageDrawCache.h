#pragma once
// What painting derives from decoded images, made once and kept by the
// paint manager next to the images: each image as a premultiplied 32-bit
// DIB section for GDI's AlphaBlend (the fast path, which honours the DC's
// clipping and needs no per-draw buffers), and private copies of image parts
// that GDI+ draws scaled (a scaled draw samples neighbouring pixels, so the
// part must not see the rest of the image). Main thread only.
#include <windows.h>

#include <map>
#include <memory>
#include <tuple>

#include "Runtime/Handles.h"

namespace Gdiplus {
class Bitmap;
}

class CImageDrawCache {
public:
    // Cap on kept parts; past it the part cache starts again empty.
    static constexpr size_t kMaxParts = 512;

    CImageDrawCache();
    ~CImageDrawCache();
    CImageDrawCache(const CImageDrawCache&) = delete;
    CImageDrawCache& operator=(const CImageDrawCache&) = delete;

    // What painting may skip: the smallest rectangle holding every pixel
    // that is not fully transparent (empty for a clear image), and whether
    // every pixel is opaque.
    struct Coverage {
        RECT content{};
        bool opaque = false;
    };
    // A memory DC with the image's DIB selected, for AlphaBlend; null when
    // the DIB cannot be made. Valid until the next call. `coverage`, when
    // given, receives the image's.
    HDC SelectImage(Gdiplus::Bitmap* image, Coverage* coverage = nullptr);
    // The copy of `src` of `image`; null when it cannot be made.
    Gdiplus::Bitmap* Part(Gdiplus::Bitmap* image, const RECT& src);
    void Clear();
    size_t PartCount() const { return parts_.size(); }
    size_t DibCount() const { return dibs_.size(); }

private:
    using Key = std::tuple<const void*, LONG, LONG, LONG, LONG>;
    std::map<Key, std::unique_ptr<Gdiplus::Bitmap>> parts_;
    struct Dib {
        kv::UniqueGdiObject bitmap;
        Coverage coverage;
    };
    std::map<const void*, Dib> dibs_;
    kv::UniqueMemoryDc dc_;
    HGDIOBJ dcOriginal_ = nullptr;
};
