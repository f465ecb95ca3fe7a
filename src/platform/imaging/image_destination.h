#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/imaging/image_properties.h"
#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

struct EncodeOptions {
    double quality = 0.92;  // 0..1 for lossy types; 1.0 asks for the best the type offers
    // Metadata written with the image where the type can hold it. The orientation is only
    // written by types that carry it (carriesOrientation); otherwise turn the pixels first.
    ImageMetadata metadata;
    bool excludeGPS = false;
    bool excludeXMP = false;
    // Delays for the frames of an animated GIF (seconds); other types take the first image.
    std::vector<double> frameDelays;
};

// Encodes images (several: ICO and ICNS entries, GIF frames) as the type. Types without
// alpha get the pixels on white. Throws ConversionError (unsupportedFormat for a type this
// system cannot write, conversionFailed when the encoder fails).
std::vector<uint8_t> encodeImages(const std::vector<RgbaImage>& images, const std::string& typeIdentifier,
                                  const EncodeOptions& options = {});
std::vector<uint8_t> encodeImage(const RgbaImage& image, const std::string& typeIdentifier,
                                 const EncodeOptions& options = {});

// Encodes and writes the file (through a temporary name beside it, renamed when complete).
void writeImageFile(const std::filesystem::path& path, const std::vector<RgbaImage>& images,
                    const std::string& typeIdentifier, const EncodeOptions& options = {});
void writeImageFile(const std::filesystem::path& path, const RgbaImage& image, const std::string& typeIdentifier,
                    const EncodeOptions& options = {});

}  // namespace calvoro::imaging
