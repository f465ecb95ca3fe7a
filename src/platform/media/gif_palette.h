#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/imaging/rgba_image.h"

namespace calvoro::media {

// A picture reduced to at most 256 colours for a GIF frame: a palette fitted to the picture's
// own colours, and indices dithered by error diffusion so that gradients do not band.
struct IndexedPicture {
    std::vector<std::array<uint8_t, 3>> palette;  // 1 to 256 entries
    std::vector<uint8_t> indices;                 // width * height, rows top to bottom
};

// The top-left width x height of image (alpha is ignored).
IndexedPicture quantizePicture(const imaging::RgbaImage& image, int width, int height);

}  // namespace calvoro::media
