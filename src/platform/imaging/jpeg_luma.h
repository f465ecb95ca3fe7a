#pragma once

// A JPEG's luma read straight from its bytes: the stored Y channel, without colour conversion,
// decoded with the inverse DCT the caller names (FFmpeg's, so that a score agrees with what
// video tools measure) or the library's own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/byte_stream.h"
#include "platform/imaging/gray_image.h"

namespace calvoro::imaging {

// An inverse DCT other than the library's.
struct JpegIdct {
    // Turns 64 dequantized coefficients, placed by `permutation` from their row-major order,
    // into 64 samples in row-major order, level shift included in the DC, not yet clamped.
    void (*transform)(int16_t* block) = nullptr;  // the block aligned to 16 bytes
    uint8_t permutation[64] = {};
};

// Told the size first, then given the rows top to bottom; false from either stops the decode.
using LumaStart = std::function<bool(int width, int height)>;
using LumaRow = std::function<bool(const uint8_t* row)>;

// The whole luma picture; nothing when the bytes are not a JPEG this path reads (CMYK,
// damaged): the caller then decodes them whole. A null idct is the library's own.
std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size, const JpegIdct* idct);
// The same luma handed over as it is decoded; false when it is not a JPEG this path reads, or
// when start or row stopped it.
bool jpegLumaRows(const uint8_t* data, size_t size, const JpegIdct* idct, const LumaStart& start, const LumaRow& row);
// The same for a JPEG being written into a stream, decoded as its bytes arrive; false also when
// the writer stops before the end of the picture.
bool jpegLumaRows(const ByteStream& stream, const JpegIdct* idct, const LumaStart& start, const LumaRow& row);

}  // namespace calvoro::imaging
