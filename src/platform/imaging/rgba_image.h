#pragma once

#include <cstdint>
#include <vector>

namespace calvoro::imaging {

// An 8-bit RGBA bitmap, rows top to bottom, no padding; sRGB, straight (non-premultiplied) alpha.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4

    RgbaImage() = default;
    RgbaImage(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0) {}
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
    bool empty() const { return width <= 0 || height <= 0; }
};

}  // namespace calvoro::imaging
