#pragma once

// A JPEG's luma read straight from its bytes: the stored Y channel, decoded as FFmpeg decodes
// it, so that a score agrees with what video tools measure. (Decoders differ by a level here
// and there; in dark flat areas that alone moves SSIM by several points.)

#include <cstddef>
#include <cstdint>
#include <optional>

#include "converters/archive/ssim.h"

namespace calvoro::ssim {

// The whole luma picture; nothing when the bytes are not a JPEG this path reads (CMYK,
// damaged): the caller then decodes them whole.
std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size);

// The JPEG's luma scored against the reference; nothing as above, or when its size differs
// from the reference's.
std::optional<double> jpegSSIM(const GrayImage& reference, const uint8_t* data, size_t size);

}  // namespace calvoro::ssim
