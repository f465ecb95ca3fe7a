#pragma once

#include <array>

#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

// High-quality resampling (Lanczos-3, in premultiplied alpha) to exactly width x height.
RgbaImage resample(const RgbaImage& image, int width, int height);

// The pixels turned so that an image stored with this Exif orientation (1..8) shows upright.
RgbaImage applyOrientation(const RgbaImage& image, int orientation);
// The same for an image no longer needed: upright pixels are handed back without a copy.
RgbaImage applyOrientation(RgbaImage&& image, int orientation);

// Transparent areas composited onto a colour (opaque result).
void flattenOnto(RgbaImage& image, std::array<uint8_t, 3> rgb = {255, 255, 255});

// The pixels converted from their ICC profile to sRGB (unchanged when already sRGB or the
// profile cannot be read).
void convertToSRGB(RgbaImage& image);

}  // namespace calvoro::imaging
