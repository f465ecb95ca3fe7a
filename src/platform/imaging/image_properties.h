#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

// What a file says about its first image besides the pixels.
struct ImageMetadata {
    std::vector<uint8_t> exif;  // TIFF-structured Exif block, without the "Exif\0\0" prefix
    std::string xmp;            // XMP packet
    std::vector<uint8_t> iptc;  // IPTC-IIM datasets, as a Photoshop resource 0x0404 holds them
    std::vector<uint8_t> iccProfile;
    std::optional<PngGamma> pngGamma;  // the chunks iccProfile was made from, when it was
    int orientation = 1;        // Exif orientation 1..8 of the stored pixels
    std::optional<double> dpiWidth;
    std::optional<double> dpiHeight;
};

// An Exif block that holds nothing but the orientation (1..8).
std::vector<uint8_t> orientationOnlyExif(int orientation);

struct ImageProperties {
    int pixelWidth = 0;   // of the stored pixels (before orientation)
    int pixelHeight = 0;
    int frameCount = 1;
    bool hasAlpha = false;
    int bitsPerComponent = 8;
    ImageMetadata metadata;
    bool hasGPS = false;  // the Exif block has a GPS directory
    std::vector<double> frameDelays;  // seconds, one per frame for animations
};

}  // namespace calvoro::imaging
