#pragma once

#include <sys/mman.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace calvoro::imaging {

// Asks for transparent huge pages over a fresh, untouched allocation: a whole-picture buffer
// then faults in 2 MB at a time instead of 4 KB, which matters for tens of megapixels.
inline void adviseHugePages(void* data, size_t size) {
    constexpr size_t huge = size_t(2) << 20;
    if (size < 2 * huge) return;
    const auto start = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const auto end = (reinterpret_cast<uintptr_t>(data) + size) & ~(huge - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// A byte or float vector of n elements, zeroed, with huge pages asked for first.
template <typename Vector>
void allocateLarge(Vector& v, size_t n) {
    v.clear();
    v.shrink_to_fit();
    v.reserve(n);
    adviseHugePages(v.data(), n * sizeof(typename Vector::value_type));
    v.resize(n);
}

// A PNG's gAMA chunk and its cHRM chunk if any, as stored (each value × 100000): what a file
// without a profile or sRGB chunk says of its colour.
struct PngGamma {
    uint32_t gamma = 0;
    std::optional<std::array<uint32_t, 8>> chromaticities;  // white x, y; red x, y; green x, y; blue x, y
    friend bool operator==(const PngGamma&, const PngGamma&) = default;
};

// An 8-bit RGBA bitmap, rows top to bottom, no padding; straight (non-premultiplied) alpha.
// The pixels are sRGB unless iccProfile holds the profile they are in.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4
    std::vector<uint8_t> iccProfile;  // empty: sRGB
    // The chunks iccProfile was made from, when it was: a PNG written from these pixels says
    // the same in the same chunks rather than as a profile.
    std::optional<PngGamma> pngGamma;
    // The same pixels at 16 bits per sample (straight alpha) when the source had more than 8;
    // empty otherwise. Writers that hold 16 bits use it; whatever changes pixels drops it.
    std::vector<uint16_t> deep;

    RgbaImage() = default;
    RgbaImage(int w, int h) : width(w), height(h) { allocateLarge(pixels, static_cast<size_t>(w) * static_cast<size_t>(h) * 4); }
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
    // Takes the colour that another picture's pixels are in.
    void copyColourFrom(const RgbaImage& other) {
        iccProfile = other.iccProfile;
        pngGamma = other.pngGamma;
    }
    bool empty() const { return width <= 0 || height <= 0; }
    bool hasDeep() const { return !deep.empty() && deep.size() == pixels.size(); }
    // Fills pixels from deep, rounding each sample to the nearest of 256 levels.
    void pixelsFromDeep() {
        for (size_t i = 0; i < deep.size() && i < pixels.size(); ++i)
            pixels[i] = static_cast<uint8_t>((uint32_t(deep[i]) * 255 + 32895) >> 16);
    }
    // True when some pixel is not fully opaque (at 16 bits when the picture has them).
    bool hasTransparency() const {
        if (hasDeep()) {
            for (size_t i = 3; i < deep.size(); i += 4)
                if (deep[i] != 0xFFFF) return true;
            return false;
        }
        for (size_t i = 3; i < pixels.size(); i += 4)
            if (pixels[i] != 255) return true;
        return false;
    }
};

}  // namespace calvoro::imaging
