#pragma once

// SSIM of a JPEG read from its bytes: its luma decoded as FFmpeg decodes it (its inverse DCT
// where FFmpeg is present), so that a score agrees with what video tools measure.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "compressor/quality/ssim.h"
#include "core/byte_stream.h"

namespace calvoro::ssim {

// The whole luma picture; nothing when the bytes are not a JPEG this path reads (CMYK,
// damaged): the caller then decodes them whole.
std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size);
// The same luma handed over as it is decoded: the size first, then the rows top to bottom;
// false from either stops the decode.
bool jpegLumaRows(const uint8_t* data, size_t size, const std::function<bool(int width, int height)>& start,
                  const std::function<bool(const uint8_t* row)>& row);

// The JPEG's luma scored against the reference; nothing as above, or when its size differs
// from the reference's.
std::optional<double> jpegSSIM(const GrayImage& reference, const uint8_t* data, size_t size);
// The same for a JPEG being written into a stream, decoded and scored as its bytes arrive;
// nothing also when the writer stops before the end of the picture. A reference still being
// filled is read row by row once `ready(rows)` says that many of its rows are there (false:
// it never will be, and there is no score); its size must be known before.
std::optional<double> jpegSSIM(const GrayImage& reference, const ByteStream& stream,
                               const std::function<bool(int rows)>& ready = {});

}  // namespace calvoro::ssim
