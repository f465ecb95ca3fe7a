#pragma once

// The inverse DCT FFmpeg's JPEG decoder uses, for reading a JPEG's luma exactly as video tools
// decode it. (Decoders round differently by a level here and there; in dark flat areas that
// alone moves SSIM by several points.)

#include "platform/imaging/jpeg_luma.h"

namespace calvoro::media {

// Nothing when FFmpeg cannot be loaded.
const imaging::JpegIdct* ffmpegJpegIdct();

}  // namespace calvoro::media
