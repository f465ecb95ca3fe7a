#pragma once

// An HEVC decoder for libheif over libde265 that decodes on several threads. libheif's own
// runs libde265 with one worker, which leaves a large single picture on one core; this one
// decodes the same bitstream with the same library, so the pixels are the same.

#include <thread>

struct heif_decoder_plugin;

namespace calvoro::imaging {
struct RgbaImage;
}

namespace calvoro::imaging::detail {

// The decoder to register on a context (heif_register_decoder); it outranks libheif's own.
// nullptr when libde265 is not installed: libheif's own then decodes.
const heif_decoder_plugin* parallelHevcDecoder();

// While one lives, a picture of exactly width × height that the decoder produces on this
// thread, 8-bit YCbCr, goes straight into `image` as RGBA, converted as libheif converts a
// picture without a colour profile (full range, BT.601, nearest chroma sample), on several
// threads; libheif is then told the decode failed, so that it stops there. For a file with
// nothing libheif would still do to the picture (no rotation, mirror, crop, alpha, grid or
// colour profile). `taken` tells whether that happened. `image` is allocated on another
// thread meanwhile, while the decoder works.
class DirectPicture {
public:
    DirectPicture(int width, int height, RgbaImage& image);
    ~DirectPicture();
    DirectPicture(const DirectPicture&) = delete;
    DirectPicture& operator=(const DirectPicture&) = delete;
    bool taken() const { return taken_; }

private:
    friend struct DirectPictureAccess;
    int width_;
    int height_;
    RgbaImage& image_;
    bool taken_ = false;
    bool allocated_ = false;
    std::thread allocation_;
};

}  // namespace calvoro::imaging::detail
