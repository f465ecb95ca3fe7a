#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging {

// A camera RAW file developed with default settings (as-shot white balance) to upright 8-bit
// sRGB; nothing when LibRaw cannot read or develop it, or it is over the pixel limit.
std::optional<RgbaImage> decodeCameraRaw(const std::filesystem::path& path);
std::optional<RgbaImage> decodeCameraRawData(const uint8_t* data, size_t size);

}  // namespace calvoro::imaging
