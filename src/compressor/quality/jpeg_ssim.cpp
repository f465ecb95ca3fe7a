#include "compressor/quality/jpeg_ssim.h"

#include <algorithm>

#include "platform/imaging/jpeg_luma.h"
#include "platform/media/jpeg_idct.h"

namespace calvoro::ssim {

namespace {

// A scorer made once the size is known to match the reference's, given each row once the
// reference has it.
struct Scoring {
    const GrayImage& reference;
    const std::function<bool(int)>& ready;
    std::optional<Scorer> scorer;
    int rows = 0;

    imaging::LumaStart start() {
        return [this](int w, int h) {
            if (w != reference.w || h != reference.h) return false;
            scorer.emplace(reference);
            return true;
        };
    }
    imaging::LumaRow row() {
        return [this](const uint8_t* r) {
            if (ready && !ready(std::min(++rows, reference.h))) return false;
            scorer->addRow(r);
            return true;
        };
    }
};

}  // namespace

std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size) {
    return imaging::jpegLuma(data, size, media::ffmpegJpegIdct());
}

bool jpegLumaRows(const uint8_t* data, size_t size, const std::function<bool(int, int)>& start,
                  const std::function<bool(const uint8_t*)>& row) {
    return imaging::jpegLumaRows(data, size, media::ffmpegJpegIdct(), start, row);
}

std::optional<double> jpegSSIM(const GrayImage& reference, const uint8_t* data, size_t size) {
    // Scored row by row as decoded: no second copy of a large picture.
    Scoring scoring{reference, {}, {}};
    if (!imaging::jpegLumaRows(data, size, media::ffmpegJpegIdct(), scoring.start(), scoring.row())) return std::nullopt;
    return scoring.scorer->score();
}

std::optional<double> jpegSSIM(const GrayImage& reference, const ByteStream& stream, const std::function<bool(int)>& ready) {
    Scoring scoring{reference, ready, {}};
    if (!imaging::jpegLumaRows(stream, media::ffmpegJpegIdct(), scoring.start(), scoring.row())) return std::nullopt;
    return scoring.scorer->score();
}

}  // namespace calvoro::ssim
