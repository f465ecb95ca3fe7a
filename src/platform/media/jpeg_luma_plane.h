#pragma once

// A JPEG's luma as FFmpeg's own decoder gives it: the grey that video tools compare pictures by.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace calvoro::media {

// Tells the size (false stops there), then hands over the rows, top to bottom, each `width`
// bytes. False when FFmpeg is not available, the bytes do not decode, the picture is stored
// without a luma channel (RGB or CMYK), or `start` declined it.
bool decodeJpegLuma(const uint8_t* data, size_t size, const std::function<bool(int width, int height)>& start,
                    const std::function<void(const uint8_t* row)>& row);

}  // namespace calvoro::media
