#include <cmath>

#include "converters/image/image_converter.h"
#include "platform/imaging/image_ops.h"

namespace calvoro {

std::optional<imaging::RgbaImage> ImageConverter::resizeImage(const imaging::RgbaImage& image, int longestEdge) {
    return resizeImage(image, image.width, image.height, longestEdge);
}

std::optional<imaging::RgbaImage> ImageConverter::resizeImage(const imaging::RgbaImage& image, int storedWidth, int storedHeight,
                                                              int longestEdge) {
    const int longer = std::max(storedWidth, storedHeight);
    if (longer < 1 || image.empty()) return std::nullopt;
    const double scale = static_cast<double>(longestEdge) / longer;
    const double w = std::round(storedWidth * scale), h = std::round(storedHeight * scale);
    if (w < 1 || h < 1 || w > (1 << 30) || h > (1 << 30)) return std::nullopt;
    imaging::RgbaImage out = imaging::resample(image, static_cast<int>(w), static_cast<int>(h));
    if (out.empty()) return std::nullopt;
    return out;
}

}  // namespace calvoro
