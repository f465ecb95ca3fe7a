#pragma once

// The score tiles of a JPEG read straight from its bytes, decoding only the rows and columns
// that the tiles cover instead of the whole picture.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "converters/archive/byte_stream.h"
#include "converters/archive/ssim.h"

namespace calvoro::ssim {

// The same tiles as grayscaleTiles of the fully decoded JPEG, value for value. Nothing when
// the bytes are not a JPEG this path reads (CMYK, damaged): the caller then decodes them whole.
std::optional<std::vector<Gray>> jpegGrayscaleTiles(const uint8_t* data, size_t size);
// The same, read while the JPEG is being written: waits for its bytes as it needs them, and
// gives nothing too when the stream ends before the tiles are read.
std::optional<std::vector<Gray>> jpegGrayscaleTiles(const ByteStream& stream);

}  // namespace calvoro::ssim
