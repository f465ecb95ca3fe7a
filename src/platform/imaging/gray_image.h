#pragma once

// Grey pictures: the full-range luma that picture quality is measured on.

#include <cstdint>
#include <vector>

#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

// A grey picture: full-range luma, one byte a pixel, rows from the top.
struct GrayImage {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> px;
    const uint8_t* row(int y) const { return px.data() + static_cast<size_t>(y) * static_cast<size_t>(w); }
};

// The gray value of one straight-alpha RGBA pixel: Rec. 601 luma, put onto black by the alpha
// as a gray context without alpha draws it. Every decoder path uses this one expression.
inline uint8_t grayValue(const uint8_t* rgba) {
    const double luma = 0.299 * rgba[0] + 0.587 * rgba[1] + 0.114 * rgba[2];
    const double v = luma * rgba[3] / 255.0;
    // Halves away from zero, as std::round, without the library call: v is never negative and
    // v minus its whole part is exact, so the comparison decides exactly as round would.
    const int whole = static_cast<int>(v);
    return static_cast<uint8_t>(whole + (v - whole >= 0.5 ? 1 : 0));
}

// The picture in gray, drawn on black where it is transparent.
GrayImage grayImage(const RgbaImage& image);

}  // namespace calvoro::imaging
