#pragma once

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

// PNG assembled here rather than by libpng: the image data is filtered and deflated in
// horizontal strips of about a megabyte on several threads (each strip primed with the
// previous one's last 32 KB, so the ratio stays close to one stream), which is what makes large
// PNGs fast to write. A low deflate level with adaptive row filters still gives photos half the
// size of unfiltered output at a fraction of the time of the default level. The strips do not
// depend on the number of threads: the bytes are the same on every machine.

// The rows a PNG is written from, asked for in order, y = 0, 1, ...: RGBA at 8 bits, or at 16
// (native uint16_t samples) when sixteen. A row must stay valid until the next ask; nullptr
// means no more rows will come (the write then throws). Without alpha, the fourth sample of
// each pixel is not written.
struct PngRows {
    int width = 0;
    int height = 0;
    bool alpha = false;
    bool sixteen = false;
    std::function<const void*(int)> rowAt;
};

// Writes the file to sink as it is made, a megabyte or so at a time: only the strips being
// compressed are held, never the whole picture or the whole file. When gammaChunks are the
// chunks iccProfile was made from, they are written instead of the profile.
void writePNG(const PngRows& rows, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options, const ByteSink& sink,
              const std::optional<PngGamma>& gammaChunks = std::nullopt);

// The same bytes for a whole picture (16-bit when it has them, RGBA only when it has transparency).
Bytes writePNGFile(const RgbaImage& image, const EncodeOptions& options);

}  // namespace calvoro::imaging::detail
