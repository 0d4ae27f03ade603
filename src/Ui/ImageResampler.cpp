#include "Ui/ImageResampler.h"

#include <algorithm>
#include <cmath>

namespace {

// The source pixels one target pixel draws from, and their weights (summing to 1).
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Taps> AxisTaps(int srcLen, int dstLen) {
    std::vector<Taps> taps(static_cast<size_t>(dstLen));
    const double scale = static_cast<double>(dstLen) / srcLen;
    for (int i = 0; i < dstLen; ++i) {
        Taps& t = taps[static_cast<size_t>(i)];
        if (scale <= 1.0) {
            // The target pixel covers [a, b) of the source.
            const double a = i / scale, b = (i + 1) / scale;
            t.first = static_cast<int>(std::floor(a));
            const int end = std::min(static_cast<int>(std::ceil(b)), srcLen);
            for (int j = t.first; j < end; ++j) {
                const double overlap = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
                t.weights.push_back(static_cast<float>(overlap > 0 ? overlap : 0));
            }
        } else {
            // Pixel centres: target i sits at c in source pixels.
            const double c = (i + 0.5) / scale - 0.5;
            const int j0 = static_cast<int>(std::floor(c));
            const double f = c - j0;
            const int lo = std::clamp(j0, 0, srcLen - 1), hi = std::clamp(j0 + 1, 0, srcLen - 1);
            t.first = lo;
            if (hi == lo) {
                t.weights.push_back(1.0f);
            } else {
                t.weights.push_back(static_cast<float>(1 - f));
                t.weights.push_back(static_cast<float>(f));
            }
        }
        float sum = 0;
        for (float w : t.weights) sum += w;
        if (sum > 0) {
            for (float& w : t.weights) w /= sum;
        }
    }
    return taps;
}

}  // namespace

std::vector<uint32_t> CImageResampler::Resample(const uint32_t* src, int sw, int sh, int stride, int dw, int dh) {
    if (src == nullptr || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || stride < sw) return {};
    const std::vector<Taps> across = AxisTaps(sw, dw), down = AxisTaps(sh, dh);
    // Rows first, into four float channels per pixel.
    std::vector<float> rows(static_cast<size_t>(sh) * dw * 4);
    for (int y = 0; y < sh; ++y) {
        const uint32_t* line = src + static_cast<size_t>(y) * stride;
        float* out = &rows[static_cast<size_t>(y) * dw * 4];
        for (int x = 0; x < dw; ++x) {
            const Taps& t = across[static_cast<size_t>(x)];
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const uint32_t p = line[t.first + static_cast<int>(k)];
                const float w = t.weights[k];
                for (int c = 0; c < 4; ++c) acc[c] += w * static_cast<float>((p >> (24 - 8 * c)) & 0xFF);
            }
            for (int c = 0; c < 4; ++c) out[x * 4 + c] = acc[c];
        }
    }
    std::vector<uint32_t> result(static_cast<size_t>(dw) * dh);
    for (int y = 0; y < dh; ++y) {
        const Taps& t = down[static_cast<size_t>(y)];
        for (int x = 0; x < dw; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const float* p = &rows[(static_cast<size_t>(t.first) + k) * dw * 4 + static_cast<size_t>(x) * 4];
                for (int c = 0; c < 4; ++c) acc[c] += t.weights[k] * p[c];
            }
            uint32_t v[4];
            for (int c = 0; c < 4; ++c) v[c] = static_cast<uint32_t>(std::clamp(std::lround(acc[c]), 0L, 255L));
            // Premultiplied: no channel above the alpha.
            for (int c = 1; c < 4; ++c) v[c] = std::min(v[c], v[0]);
            result[static_cast<size_t>(y) * dw + x] = (v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3];
        }
    }
    return result;
}
