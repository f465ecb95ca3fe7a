#include "converters/archive/compressor_image.h"

#include "platform/imaging/image_ops.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::compressor_image {

std::optional<std::string> typeIdentifier(SupportedFormat target) {
    switch (target) {
        case SupportedFormat::jpeg: case SupportedFormat::jpg: return imaging::types::jpeg;
        case SupportedFormat::heic: case SupportedFormat::heif: return imaging::types::heic;
        case SupportedFormat::avif: return imaging::types::avif;
        case SupportedFormat::jp2: return imaging::types::jpeg2000;
        default: return std::nullopt;
    }
}

std::optional<PreparedImage> loadImage(const std::filesystem::path& url, SupportedFormat target) {
    auto type = typeIdentifier(target);
    if (!type) return std::nullopt;
    try {
        auto source = imaging::ImageSource::open(url);
        if (!source) return std::nullopt;
        PreparedImage prepared;
        prepared.pixels = source->decodeFirstFrame();
        if (prepared.pixels.empty()) return std::nullopt;
        const auto& md = source->properties().metadata;
        const int orientation = md.orientation >= 1 && md.orientation <= 8 ? md.orientation : 1;
        // A phone photo must not come out turned: the orientation goes with the Exif block where
        // the target keeps one, otherwise the pixels are turned upright.
        if (imaging::carriesOrientation(*type) && !md.exif.empty()) {
            prepared.metadata.exif = md.exif;
            prepared.metadata.orientation = orientation;
        } else if (orientation != 1) {
            prepared.pixels = imaging::applyOrientation(prepared.pixels, orientation);
        }
        return prepared;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::vector<uint8_t>> encodeImage(const PreparedImage& image, SupportedFormat target, double quality) {
    auto type = typeIdentifier(target);
    if (!type) return std::nullopt;
    try {
        imaging::EncodeOptions options;
        options.quality = quality;
        options.metadata = image.metadata;
        auto bytes = imaging::encodeImage(image.pixels, *type, options);
        if (bytes.empty()) return std::nullopt;
        return bytes;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace calvoro::compressor_image
