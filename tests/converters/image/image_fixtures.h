#pragma once

#include "converters/image/image_converter.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

namespace calvoro::testing {

// Red left half, blue right half; the top-left 2×2 block green as an orientation mark; a
// transparent band along the top when asked.
inline imaging::RgbaImage markedPicture(int w, int h, bool transparentTop = false) {
    imaging::RgbaImage image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = image.row(y) + x * 4;
            p[0] = x < w / 2 ? 255 : 0;
            p[2] = x < w / 2 ? 0 : 255;
            p[1] = 0;
            p[3] = transparentTop && y < h / 4 ? 0 : 255;
        }
    return image;
}

inline imaging::RgbaImage decode(const std::filesystem::path& file) {
    auto source = imaging::ImageSource::open(file);
    if (!source) return {};
    return source->decodeFirstFrame();
}

inline std::string peer(const std::string& command) { return run(command + " 2>/dev/null").output; }

}  // namespace calvoro::testing
