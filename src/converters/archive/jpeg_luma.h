#pragma once

// A JPEG's luma read straight from its bytes: the stored Y channel, decoded as FFmpeg decodes
// it (its inverse DCT where FFmpeg is present), so that a score agrees with what video tools
// measure.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "converters/archive/byte_stream.h"
#include "converters/archive/ssim.h"

namespace calvoro::ssim {

// The whole luma picture; nothing when the bytes are not a JPEG this path reads (CMYK,
// damaged): the caller then decodes them whole.
std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size);

// The JPEG's luma scored against the reference; nothing as above, or when its size differs
// from the reference's.
std::optional<double> jpegSSIM(const GrayImage& reference, const uint8_t* data, size_t size);
// The same for a JPEG being written into a stream, decoded and scored as its bytes arrive;
// nothing also when the writer stops before the end of the picture.
std::optional<double> jpegSSIM(const GrayImage& reference, const ByteStream& stream);

}  // namespace calvoro::ssim
