#pragma once

#include "platform/imaging/rgba_image.h"
#include "platform/media/sample_buffer.h"

namespace calvoro::media {

// Draws the image scaled to fill the whole buffer (aspect ratio not kept), over what the
// buffer already holds: transparent parts let the buffer's pixels show through.
void drawImage(PixelBuffer& buffer, const imaging::RgbaImage& image);

}  // namespace calvoro::media
