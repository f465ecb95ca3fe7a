#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/imaging/image_properties.h"
#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

// A camera RAW file developed with default settings (as-shot white balance) to upright 8-bit
// sRGB; nothing when LibRaw cannot read or develop it, or it is over the pixel limit.
std::optional<RgbaImage> decodeCameraRaw(const std::filesystem::path& path);
std::optional<RgbaImage> decodeCameraRawData(const uint8_t* data, size_t size);
// What the RAW file says besides its pixels (Exif with GPS, XMP, IPTC), without developing it.
// The orientation is 1: developed pixels stand upright.
ImageMetadata cameraRawMetadata(const uint8_t* data, size_t size);

}  // namespace calvoro::imaging
