#include "platform/imaging/gray_image.h"

namespace calvoro::imaging {

GrayImage grayImage(const RgbaImage& image) {
    GrayImage g;
    if (image.empty()) return g;
    g.w = image.width;
    g.h = image.height;
    g.px.resize(static_cast<size_t>(g.w) * static_cast<size_t>(g.h));
    uint8_t* out = g.px.data();
    for (int y = 0; y < g.h; ++y) {
        const uint8_t* p = image.row(y);
        for (int x = 0; x < g.w; ++x, p += 4) *out++ = grayValue(p);
    }
    return g;
}

}  // namespace calvoro::imaging
