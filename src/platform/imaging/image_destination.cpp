#include "platform/imaging/image_destination.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/conversion_error.h"
#include "core/file_writing.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::imaging {

namespace {

// Formats without a place for a colour profile get sRGB pixels.
bool embedsProfile(const std::string& type) {
    return type == types::png || type == types::jpeg || type == types::tiff || type == types::webp || type == types::heic ||
           type == types::heif || type == types::avif || type == types::psd || type == types::jpeg2000;
}

}  // namespace

namespace {

bool isMultiImageType(const std::string& type) { return type == types::gif || type == types::ico || type == types::icns; }

void checkImage(const RgbaImage& image) {
    if (image.empty() || image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4)
        throw ConversionError::conversionFailed();
}

template <typename Body>
std::vector<uint8_t> encoding(Body body) {
    try {
        return body();
    } catch (const ConversionError& e) {
        // An encoder that gives up is a failed conversion, not a damaged input.
        if (e.kind() == ConversionError::Kind::corruptFile) throw ConversionError::conversionFailed();
        throw;
    }
}

std::vector<uint8_t> encodeSingle(const RgbaImage& given, const std::string& type, const EncodeOptions& options) {
    using namespace detail;
    RgbaImage converted;
    const RgbaImage* image = &given;
    if (!embedsProfile(type) && !given.iccProfile.empty()) {
        converted = given;
        convertToSRGB(converted);
        image = &converted;
    }
    EncodeOptions opts = options;
    if (!carriesOrientation(type)) opts.metadata.orientation = 1;
    return encoding([&]() -> std::vector<uint8_t> {
        if (type == types::png) return encodePNG(*image, opts);
        if (type == types::jpeg) return encodeJPEG(*image, opts);
        if (type == types::tiff) return encodeTIFF(*image, opts);
        if (type == types::bmp) return encodeBMP(*image, opts);
        if (type == types::webp) return encodeWebP(*image, opts);
        if (type == types::heic || type == types::heif) return encodeHEIF(*image, opts, false);
        if (type == types::avif) return encodeHEIF(*image, opts, true);
        if (type == types::jpeg2000) return encodeJPEG2000(*image, opts);
        if (type == types::tga) return encodeTGA(*image, opts);
        if (type == types::psd) return encodePSD(*image, opts);
        throw ConversionError::unsupportedFormat();
    });
}

}  // namespace

std::vector<uint8_t> encodeImages(const std::vector<RgbaImage>& images, const std::string& type, const EncodeOptions& options) {
    using namespace detail;
    if (images.empty()) throw ConversionError::conversionFailed();
    for (const auto& image : images) checkImage(image);
    if (!canEncode(type)) throw ConversionError::unsupportedFormat();
    if (!isMultiImageType(type)) return encodeSingle(images.front(), type, options);
    std::vector<RgbaImage> srgb = images;
    for (auto& image : srgb) convertToSRGB(image);
    return encoding([&]() -> std::vector<uint8_t> {
        if (type == types::gif) return encodeGIF(srgb, options);
        if (type == types::ico) return encodeICO(srgb);
        return encodeICNS(srgb);
    });
}

std::vector<uint8_t> encodeImage(const RgbaImage& image, const std::string& type, const EncodeOptions& options) {
    checkImage(image);
    if (!canEncode(type)) throw ConversionError::unsupportedFormat();
    if (isMultiImageType(type)) return encodeImages(std::vector<RgbaImage>{image}, type, options);
    return encodeSingle(image, type, options);
}

void encodeJPEGRows(const RgbaImage& image, const RowProgress& rows, const EncodeOptions& options, const ByteSink& sink) {
    checkImage(image);
    encoding([&] {
        detail::encodeJPEG(image, options, sink, &rows);
        return std::vector<uint8_t>{};
    });
}

namespace {

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    // No half-written file carries the target's name. The image is made by now: what failed is the file.
    if (!files::writeAtomically(path, bytes.data(), bytes.size())) throw ConversionError::failedToCreateOutput();
}

}  // namespace

void writeImageFile(const std::filesystem::path& path, const std::vector<RgbaImage>& images, const std::string& type,
                    const EncodeOptions& options) {
    writeBytes(path, encodeImages(images, type, options));
}

void writeImageFile(const std::filesystem::path& path, const RgbaImage& image, const std::string& type, const EncodeOptions& options) {
    writeBytes(path, encodeImage(image, type, options));
}

}  // namespace calvoro::imaging
