// Real-world image files that convert wrongly when a codec is set up for the common case only.

#include <gtest/gtest.h>

#include <cstdlib>

#include "image_fixtures.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace types = calvoro::imaging::types;
using F = SupportedFormat;

namespace {

std::filesystem::path convert(const std::filesystem::path& source, F target, const std::filesystem::path& out,
                              bool strip = false, double quality = 0.92) {
    return ImageConverter::convert(source, target, out, quality, std::nullopt, strip);
}

// Largest difference of any channel between two pictures of the same size.
int largestDifference(const imaging::RgbaImage& a, const imaging::RgbaImage& b) {
    if (a.width != b.width || a.height != b.height) return 256;
    int most = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) most = std::max(most, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return most;
}

}  // namespace

TEST(RealImages, TinyPicturesSurviveJpeg2000) {
    TempDir dir, out;
    for (int size : {16, 22, 5}) {
        SCOPED_TRACE(size);
        // A gradient: every row a colour of its own.
        imaging::RgbaImage picture(size, size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                uint8_t* p = picture.row(y) + x * 4;
                p[0] = static_cast<uint8_t>(255 - 255 * y / (size - 1)), p[2] = static_cast<uint8_t>(255 * y / (size - 1));
                p[1] = static_cast<uint8_t>(x * 4), p[3] = 255;
            }
        const auto name = "icon" + std::to_string(size) + ".png";
        imaging::writeImageFile(dir / name, picture, types::png);
        const auto written = convert(dir / name, F::jp2, out.path());
        EXPECT_LT(largestDifference(decode(written), picture), 24);
    }
}
