#include <gtest/gtest.h>

#include <cmath>

#include "converters/archive/ssim.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro {
namespace {

using imaging::RgbaImage;

// Gradients with fine detail and edges, like a photo rather than a flat drawing.
RgbaImage photoLike(int w, int h) {
    RgbaImage image(w, h);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = static_cast<int>((seed >> 16) % 31) - 15;
            uint8_t* p = image.row(y) + static_cast<size_t>(x) * 4;
            const double wave = 40 * std::sin(x * 0.07) * std::cos(y * 0.05);
            p[0] = static_cast<uint8_t>(std::clamp(60 + 150.0 * x / w + wave + noise, 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(40 + 170.0 * y / h - wave + noise, 0.0, 255.0));
            p[2] = static_cast<uint8_t>(((x / 24 + y / 24) % 2) ? 200 : 50);
            p[3] = 255;
        }
    return image;
}

ssim::Gray flat(int w, int h, double value) { return ssim::Gray{w, h, std::vector<double>(static_cast<size_t>(w) * h, value)}; }

TEST(SSIM, WindowFormulaWithItsConstants) {
    // Flat windows have no variance, so only the luminance term and both constants remain.
    const double expected = (2 * 100.0 * 110.0 + 6.5025) / (100.0 * 100.0 + 110.0 * 110.0 + 6.5025);
    EXPECT_NEAR(ssim::ssim(flat(16, 16, 100), flat(16, 16, 110)), expected, 1e-12);
    EXPECT_DOUBLE_EQ(ssim::ssim(flat(16, 16, 100), flat(16, 16, 100)), 1.0);

    // One window with a contrast: sample variance divides by 63.
    ssim::Gray a = flat(8, 8, 0), b = flat(8, 8, 0);
    for (int i = 0; i < 32; ++i) a.px[i] = 255, b.px[i] = 128;
    const double muA = 127.5, muB = 64.0;
    const double varA = 64 * 127.5 * 127.5 / 63, varB = 64 * 64.0 * 64.0 / 63, cov = 64 * 127.5 * 64.0 / 63;
    const double want = ((2 * muA * muB + 6.5025) * (2 * cov + 58.5225)) /
                        ((muA * muA + muB * muB + 6.5025) * (varA + varB + 58.5225));
    EXPECT_NEAR(ssim::ssim(a, b), want, 1e-12);

    // Pixels past the last whole window are not looked at.
    ssim::Gray c = flat(12, 12, 50), d = flat(12, 12, 50);
    for (int y = 0; y < 12; ++y)
        for (int x = 8; x < 12; ++x) d.px[y * 12 + x] = 250;
    EXPECT_DOUBLE_EQ(ssim::ssim(c, d), 1.0);
    // Too small or mismatched tiles score as identical.
    EXPECT_DOUBLE_EQ(ssim::ssim(flat(7, 20, 0), flat(7, 20, 255)), 1.0);
    EXPECT_DOUBLE_EQ(ssim::ssim(flat(16, 16, 0), flat(16, 24, 255)), 1.0);
}

TEST(SSIM, TilesFollowTheImageShape) {
    auto square = ssim::grayscaleTiles(photoLike(300, 300));
    ASSERT_EQ(square.size(), 1u);
    EXPECT_EQ(square[0].w, 300);
    EXPECT_EQ(square[0].h, 300);

    auto wide = ssim::grayscaleTiles(photoLike(300, 200));
    ASSERT_EQ(wide.size(), 5u);
    for (const auto& t : wide) {
        EXPECT_EQ(t.w, 200);
        EXPECT_EQ(t.h, 200);
    }

    const auto big = photoLike(1200, 900);
    auto large = ssim::grayscaleTiles(big);
    ASSERT_EQ(large.size(), 5u);
    for (const auto& t : large) {
        EXPECT_EQ(t.w, 512);
        EXPECT_EQ(t.h, 512);
    }
    // The first tile is the centre one: its top-left value is the centre square's corner.
    const auto centre = ssim::grayscale(big, (1200 - 512) / 2, (900 - 512) / 2, 512);
    ASSERT_TRUE(centre);
    EXPECT_EQ(large[0].px, centre->px);

    EXPECT_TRUE(ssim::grayscaleTiles(photoLike(7, 400)).empty());
    EXPECT_FALSE(ssim::meanSSIM({}, {}));
    EXPECT_FALSE(ssim::meanSSIM(large, square));
}

TEST(SSIM, IdenticalIsOneAndFallsWithJpegQuality) {
    const auto image = photoLike(640, 480);
    const auto tiles = ssim::grayscaleTiles(image);
    EXPECT_DOUBLE_EQ(*ssim::meanSSIM(tiles, tiles), 1.0);
    double previous = 1.0;
    for (double quality : {0.95, 0.65, 0.34, 0.05}) {
        imaging::EncodeOptions options;
        options.quality = quality;
        auto source = imaging::ImageSource::fromData(imaging::encodeImage(image, imaging::types::jpeg, options));
        ASSERT_TRUE(source);
        const double score = *ssim::meanSSIM(tiles, ssim::grayscaleTiles(source->decodeFirstFrame()));
        EXPECT_LT(score, previous) << quality;
        EXPECT_GT(score, 0.0);
        previous = score;
    }
}

}  // namespace
}  // namespace calvoro
