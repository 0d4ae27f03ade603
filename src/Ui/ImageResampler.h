#pragma once
// Resizes premultiplied 32-bit pixels (0xAARRGGBB) once per image and display
// scale, never per paint. Shrinking averages the source area each target
// pixel covers (the result matches art rendered at the smaller size);
// enlarging interpolates linearly. Separable, in premultiplied space, so
// transparent pixels add no colour at edges. Pure; any thread.
#include <cstdint>
#include <vector>

class CImageResampler {
public:
    // `stride` is the source row length in pixels. Empty when a size is not
    // positive.
    static std::vector<uint32_t> Resample(const uint32_t* src, int sw, int sh, int stride, int dw, int dh);
};
