#include "platform/media/pixel_drawing.h"

#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"

namespace calvoro::media {

void drawImage(PixelBuffer& buffer, const imaging::RgbaImage& image) {
    if (image.empty() || buffer.width() <= 0 || buffer.height() <= 0) return;
    imaging::RgbaImage scaled;
    const imaging::RgbaImage* src = &image;
    if (image.width != buffer.width() || image.height != buffer.height()) {
        detail::ScaleContext sws(ff::api().sws_getContext(image.width, image.height, AV_PIX_FMT_RGBA, buffer.width(), buffer.height(),
                                                          AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
        if (!sws) throw MediaError("Cannot scale the picture");
        scaled = imaging::RgbaImage(buffer.width(), buffer.height());
        const uint8_t* in[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
        int inStride[4] = {image.width * 4, 0, 0, 0};
        uint8_t* out[4] = {scaled.pixels.data(), nullptr, nullptr, nullptr};
        int outStride[4] = {scaled.width * 4, 0, 0, 0};
        ff::api().sws_scale(sws.get(), in, inStride, 0, image.height, out, outStride);
        src = &scaled;
    }
    for (int y = 0; y < buffer.height(); ++y) {
        const uint8_t* s = src->row(y);
        uint8_t* d = buffer.data() + static_cast<size_t>(y) * static_cast<size_t>(buffer.bytesPerRow());
        for (int x = 0; x < buffer.width(); ++x, s += 4, d += 4) {
            unsigned a = s[3];
            if (a == 255) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = 255;
            } else if (a > 0) {
                unsigned inv = 255 - a;
                d[0] = static_cast<uint8_t>((s[2] * a + d[0] * inv + 127) / 255);
                d[1] = static_cast<uint8_t>((s[1] * a + d[1] * inv + 127) / 255);
                d[2] = static_cast<uint8_t>((s[0] * a + d[2] * inv + 127) / 255);
                d[3] = static_cast<uint8_t>(a + (d[3] * inv + 127) / 255);
            }
        }
    }
}

}  // namespace calvoro::media
