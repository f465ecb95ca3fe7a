#pragma once

// Structural similarity of two pictures, measured on at most five grayscale tiles so that a
// large photo costs no more to score than a small one.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/imaging/rgba_image.h"

namespace calvoro::ssim {

// One grayscale tile: w x h values from 0 to 255, rows from the top. The values are whole
// numbers, so float holds them exactly and the window sums below stay exact in float.
struct Gray {
    int w = 0;
    int h = 0;
    std::vector<float> px;
};

// Where the tiles of a w x h image lie: squares of `side` at `origins`, in scoring order.
struct TileLayout {
    int side = 0;
    std::vector<std::pair<int, int>> origins;  // (x, y) of each square's top-left pixel
};

// Up to five squares of at most 512 pixels: the centre, then the four quarter points. A square
// image of at most 512 pixels gives one tile, itself; an image under 8 pixels gives none.
TileLayout tileLayout(int width, int height);

// The gray value of one straight-alpha RGBA pixel: Rec. 601 luma, put onto black by the alpha
// as a gray context without alpha draws it. Every decoder path uses this one expression.
inline float grayValue(const uint8_t* rgba) {
    const double luma = 0.299 * rgba[0] + 0.587 * rgba[1] + 0.114 * rgba[2];
    const double v = luma * rgba[3] / 255.0;
    // Halves away from zero, as std::round, without the library call: v is never negative and
    // v minus its whole part is exact, so the comparison decides exactly as round would.
    const int whole = static_cast<int>(v);
    return static_cast<float>(whole + (v - whole >= 0.5 ? 1 : 0));
}

// The square (x, y, side, side) of the image in gray, drawn on black where it is transparent;
// nothing when the square does not lie inside the image.
std::optional<Gray> grayscale(const imaging::RgbaImage& image, int x, int y, int side);
// The whole image in gray.
std::optional<Gray> grayscale(const imaging::RgbaImage& image);

// The tiles of tileLayout, in its order.
std::vector<Gray> grayscaleTiles(const imaging::RgbaImage& image);

// Mean SSIM over non-overlapping 8 x 8 windows; 1.0 for identical tiles, and for tiles that
// are too small or differ in size.
double ssim(const Gray& a, const Gray& b);

// The average of ssim over the pairs in order; nothing when the first list is empty or the
// lists differ in length.
std::optional<double> meanSSIM(const std::vector<Gray>& a, const std::vector<Gray>& b);

}  // namespace calvoro::ssim
