#pragma once

// The inverse DCT FFmpeg's JPEG decoder uses, for reading a JPEG's luma exactly as video tools
// decode it. (Decoders round differently by a level here and there; in dark flat areas that
// alone moves SSIM by several points.)

#include <cstdint>

namespace calvoro::media {

struct JpegIdct {
    // Turns 64 dequantized coefficients, placed by `permutation` from their row-major order,
    // into 64 samples in row-major order, level shift included in the DC, not yet clamped.
    void (*transform)(int16_t* block) = nullptr;  // the block aligned to 16 bytes
    uint8_t permutation[64] = {};
};

// Nothing when FFmpeg cannot be loaded.
const JpegIdct* ffmpegJpegIdct();

}  // namespace calvoro::media
