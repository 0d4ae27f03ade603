#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Ui/ImageResampler.h"

namespace {
uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; }
int Channel(uint32_t p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }
}  // namespace

// Art drawn for 200% shown at 100%: every target pixel is the mean of the
// 2 x 2 source pixels it covers, so art whose pixels come in 2 x 2 blocks
// comes back exactly, and a one-pixel pattern averages out evenly.
TEST(ImageResampler, HalvingAveragesEachTwoByTwoBlock) {
    const uint32_t colours[4] = {Argb(255, 200, 10, 10), Argb(255, 10, 200, 10), Argb(128, 0, 0, 128),
                                 Argb(0, 0, 0, 0)};
    std::vector<uint32_t> src(4 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) src[static_cast<size_t>(y) * 4 + x] = colours[(y / 2) * 2 + x / 2];
    const std::vector<uint32_t> out = CImageResampler::Resample(src.data(), 4, 4, 4, 2, 2);
    ASSERT_EQ(out.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], colours[i]) << i;

    // A one-pixel checker of black and white: flat mid grey, no moire.
    std::vector<uint32_t> checker(8 * 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) checker[static_cast<size_t>(y) * 8 + x] = (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000;
    for (uint32_t p : CImageResampler::Resample(checker.data(), 8, 8, 8, 4, 4)) {
        EXPECT_NEAR(Channel(p, 16), 128, 1);
        EXPECT_EQ(p >> 24, 255u);
    }
}

// 150% from 200% art: a flat colour stays exactly that colour, a thin line's
// weight is kept (it spreads over at most two pixels with the same total),
// and the row stride of the source is honoured.
TEST(ImageResampler, FractionalScaleKeepsFlatColourAndLineWeight) {
    const int w = 20, stride = 24;
    std::vector<uint32_t> src(static_cast<size_t>(stride) * w, 0xDEADBEEF);  // padding between rows
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < w; ++x) src[static_cast<size_t>(y) * stride + x] = x == 10 ? 0xFFFF0000 : 0xFFFFFFFF;
    const std::vector<uint32_t> out = CImageResampler::Resample(src.data(), w, w, stride, 15, 15);
    ASSERT_EQ(out.size(), 15u * 15u);
    for (int y = 0; y < 15; ++y) {
        double missing = 0;  // green lost to the red line, in pixels
        int touched = 0;
        for (int x = 0; x < 15; ++x) {
            const uint32_t p = out[static_cast<size_t>(y) * 15 + x];
            EXPECT_EQ(p >> 24, 255u);
            EXPECT_EQ(Channel(p, 16), 255);  // red is everywhere
            missing += (255 - Channel(p, 8)) / 255.0;
            touched += Channel(p, 8) < 250;
        }
        EXPECT_NEAR(missing, 0.75, 0.02) << y;
        EXPECT_LE(touched, 2) << y;
    }
    // Rows and columns away from the line are pure white.
    EXPECT_EQ(out[0], 0xFFFFFFFFu);
    EXPECT_EQ(out[15 * 15 - 1], 0xFFFFFFFFu);
}

// Transparent pixels carry no colour: an opaque red square beside a clear
// area shrinks to an edge pixel that is half-covered pure red, not a dark
// fringe, and nothing exceeds its own alpha (premultiplied).
TEST(ImageResampler, TransparentNeighboursAddNoColour) {
    std::vector<uint32_t> src(6 * 2, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) src[static_cast<size_t>(y) * 6 + x] = 0xFFFF0000;
    const std::vector<uint32_t> out = CImageResampler::Resample(src.data(), 6, 2, 6, 3, 1);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], 0xFFFF0000u);
    EXPECT_NEAR(static_cast<int>(out[1] >> 24), 128, 1);
    EXPECT_EQ(Channel(out[1], 16), static_cast<int>(out[1] >> 24));  // premultiplied pure red
    EXPECT_EQ(out[1] & 0xFFFF, 0u);
    EXPECT_EQ(out[2], 0u);
}

// Enlarging (art drawn for 100% at 150%, or beyond 200%): flat areas stay
// flat, values stay between their neighbours, and bad sizes give nothing.
TEST(ImageResampler, EnlargingInterpolatesAndBadSizesGiveNothing) {
    const uint32_t src[2] = {0xFF000000, 0xFFFFFFFF};
    const std::vector<uint32_t> out = CImageResampler::Resample(src, 2, 1, 2, 6, 1);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0], 0xFF000000u);
    EXPECT_EQ(out[5], 0xFFFFFFFFu);
    for (size_t i = 1; i < out.size(); ++i) EXPECT_GE(Channel(out[i], 0), Channel(out[i - 1], 0));
    EXPECT_TRUE(CImageResampler::Resample(src, 2, 1, 2, 0, 1).empty());
    EXPECT_TRUE(CImageResampler::Resample(src, 2, 1, 1, 4, 1).empty());
    EXPECT_TRUE(CImageResampler::Resample(nullptr, 2, 1, 2, 4, 1).empty());
}
