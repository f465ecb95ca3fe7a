#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace calvoro::imaging {

// An 8-bit RGBA bitmap, rows top to bottom, no padding; straight (non-premultiplied) alpha.
// The pixels are sRGB unless iccProfile holds the profile they are in.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4
    std::vector<uint8_t> iccProfile;  // empty: sRGB

    RgbaImage() = default;
    RgbaImage(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0) {}
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
    bool empty() const { return width <= 0 || height <= 0; }
    // True when some pixel is not fully opaque.
    bool hasTransparency() const {
        for (size_t i = 3; i < pixels.size(); i += 4)
            if (pixels[i] != 255) return true;
        return false;
    }
};

}  // namespace calvoro::imaging
