#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/conversion_defaults.h"
#include "platform/imaging/image_properties.h"
#include "platform/imaging/rgba_image.h"
#include "platform/imaging/row_progress.h"

namespace calvoro::imaging {

struct EncodeOptions {
    double quality = defaultImageQuality;  // 0..1 for lossy types; 1.0 asks for the best the type offers
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

// Takes encoded bytes as an encoder makes them.
using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// The bytes encodeImage gives for a JPEG, handed to sink as they are made, from a picture whose
// rows another thread may still be writing: row y is read only once rows has passed it. Throws
// as encodeImage, and conversionFailed when rows fails first.
void encodeJPEGRows(const RgbaImage& image, const RowProgress& rows, const EncodeOptions& options, const ByteSink& sink);

// Encodes and writes the file (through a temporary name beside it, renamed when complete).
void writeImageFile(const std::filesystem::path& path, const std::vector<RgbaImage>& images,
                    const std::string& typeIdentifier, const EncodeOptions& options = {});
void writeImageFile(const std::filesystem::path& path, const RgbaImage& image, const std::string& typeIdentifier,
                    const EncodeOptions& options = {});

}  // namespace calvoro::imaging
