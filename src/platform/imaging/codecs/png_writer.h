#pragma once

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

// PNG assembled here rather than by libpng: the image data is filtered and deflated in
// horizontal strips on several threads (each strip primed with the previous one's last 32 KB,
// so the ratio stays close to one stream), which is what makes large PNGs fast to write. A
// low deflate level with adaptive row filters still gives photos half the size of unfiltered
// output at a fraction of the time of the default level.
Bytes writePNGFile(const RgbaImage& image, const EncodeOptions& options);

}  // namespace calvoro::imaging::detail
