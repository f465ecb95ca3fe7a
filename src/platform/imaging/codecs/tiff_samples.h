#pragma once

// TIFF samples that libtiff's RGBA reader does not take, or takes only at 8 bits.

#include <tiffio.h>

#include <cstdint>
#include <string>

#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging::detail {

// Grey, RGB or CMYK pictures of integer samples of 9 to 32 bits or floating-point samples of 16,
// 32 or 64 bits, contiguous or in planes, in strips or tiles, with or without alpha: read in
// stored order into image.deep (straight alpha) and image.pixels. Integers are scaled from
// their bit depth, floating point taken as 0 to 1 and clamped, CMYK turned into RGB as libtiff
// turns 8-bit CMYK. False, with nothing read, for any other layout.
bool readWideSamples(TIFF* tif, RgbaImage& image, uint16_t photometric, uint16_t alphaKind);

// The layout of the current directory as a user reads it, e.g. "16-bit floating-point greyscale TIFF".
std::string tiffVariantName(TIFF* tif, uint16_t photometric);

}  // namespace calvoro::imaging::detail
