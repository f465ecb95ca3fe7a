#pragma once

#include <array>

#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

// High-quality resampling (Lanczos-3, in premultiplied alpha) to exactly width x height.
RgbaImage resample(const RgbaImage& image, int width, int height);

// The pixels turned so that an image stored with this Exif orientation (1..8) shows upright.
RgbaImage applyOrientation(const RgbaImage& image, int orientation);
// The same for an image no longer needed: upright pixels are handed back without a copy.
RgbaImage applyOrientation(RgbaImage&& image, int orientation);

// Transparent areas composited onto a colour (opaque result).
void flattenOnto(RgbaImage& image, std::array<uint8_t, 3> rgb = {255, 255, 255});

// The pixels converted from their ICC profile to sRGB (unchanged when already sRGB; a profile
// that cannot be read is dropped). A gray profile takes the pixels' red channel as the gray.
void convertToSRGB(RgbaImage& image);

// An ICC profile that says what a PNG's gAMA (and cHRM) chunks say; empty when they cannot
// make one. The same chunks always give the same bytes.
std::vector<uint8_t> profileFromPNGGamma(const PngGamma& chunks);

// Whether an ICC profile describes RGB pixels (our pixels are always RGB).
bool describesRGB(const std::vector<uint8_t>& profile);

// Converts rows of RGBA pixels from a gray ICC profile to sRGB, a row at a time.
class GrayToSRGB {
public:
    explicit GrayToSRGB(const std::vector<uint8_t>& profile);
    ~GrayToSRGB();
    GrayToSRGB(const GrayToSRGB&) = delete;
    GrayToSRGB& operator=(const GrayToSRGB&) = delete;
    // False when the profile is no gray profile that can be read.
    bool valid() const { return transform_ != nullptr; }
    void apply(uint8_t* rgba, size_t pixels);

private:
    void* transform_ = nullptr;
    std::vector<uint8_t> gray_;
};

}  // namespace calvoro::imaging
