#include "platform/media/jpeg_idct.h"

#include <optional>

#include "platform/media/ffmpeg_api.h"

namespace calvoro::media {

namespace {

std::optional<imaging::JpegIdct> load() {
    try {
        const ff::Api& api = ff::api();
        // The defaults are the ones FFmpeg's JPEG decoder picks: the automatic choice, 8 bits.
        AVDCT* dct = api.avcodec_dct_alloc();
        if (!dct) return std::nullopt;
        std::optional<imaging::JpegIdct> idct;
        if (api.avcodec_dct_init(dct) >= 0 && dct->idct) {
            idct.emplace();
            idct->transform = dct->idct;
            for (int i = 0; i < 64; ++i) idct->permutation[i] = dct->idct_permutation[i];
        }
        api.av_freep(&dct);
        return idct;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

const imaging::JpegIdct* ffmpegJpegIdct() {
    // Read-only once made; the functions it points at live as long as the library stays loaded.
    static const std::optional<imaging::JpegIdct> idct = load();
    return idct ? &*idct : nullptr;
}

}  // namespace calvoro::media
