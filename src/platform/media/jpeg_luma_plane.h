#pragma once

// A JPEG's luma as FFmpeg's own decoder gives it: the grey that video tools compare pictures by.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace calvoro::media {

struct LumaPlane {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width x height, rows from the top
};

// Nothing when FFmpeg is not available, the bytes do not decode, or the picture is stored
// without a luma channel (RGB or CMYK).
std::optional<LumaPlane> decodeJpegLuma(const uint8_t* data, size_t size);

}  // namespace calvoro::media
