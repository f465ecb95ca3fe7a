#include "compressor/compressor_image.h"

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

std::optional<imaging::ImageMetadata> carriedMetadata(const imaging::ImageMetadata& md, SupportedFormat target) {
    auto type = typeIdentifier(target);
    const int orientation = md.orientation >= 1 && md.orientation <= 8 ? md.orientation : 1;
    imaging::ImageMetadata carried;
    // A compressed copy carries its orientation and, with the pixels, its colour profile; the
    // rest of the Exif block (GPS, camera, thumbnail) and the XMP stay behind.
    if (orientation == 1) return carried;
    if (!type || !imaging::carriesOrientation(*type)) return std::nullopt;
    carried.exif = imaging::orientationOnlyExif(orientation);
    carried.orientation = orientation;
    return carried;
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
        // A phone photo must not come out turned: where the orientation cannot travel with the
        // metadata, the pixels are turned upright.
        const auto& md = source->properties().metadata;
        if (auto carried = carriedMetadata(md, target)) prepared.metadata = std::move(*carried);
        else prepared.pixels = imaging::applyOrientation(prepared.pixels, md.orientation);
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
