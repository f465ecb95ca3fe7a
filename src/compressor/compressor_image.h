#pragma once

// The compressor's still-image side: decoding a source once and encoding it at a quality.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/supported_format.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/rgba_image.h"

namespace calvoro::compressor_image {

// A decoded source, ready to be encoded as one target: the pixels keep their colour profile,
// and the orientation either travels as the target's property or has been applied to them.
struct PreparedImage {
    imaging::RgbaImage pixels;
    imaging::ImageMetadata metadata;
};

// The type identifier a compression target is encoded as; nothing for other formats.
std::optional<std::string> typeIdentifier(SupportedFormat target);

// The metadata the target is encoded with: only the orientation, in an Exif block of its own,
// where the target keeps one. Nothing when the stored pixels must be turned upright instead.
std::optional<imaging::ImageMetadata> carriedMetadata(const imaging::ImageMetadata& source, SupportedFormat target);

// The first image of the file prepared for the target; nothing when it cannot be decoded.
std::optional<PreparedImage> loadImage(const std::filesystem::path& url, SupportedFormat target);

// The encoded bytes; nothing when the target has no encoder or encoding fails.
std::optional<std::vector<uint8_t>> encodeImage(const PreparedImage& image, SupportedFormat target, double quality);

}  // namespace calvoro::compressor_image
