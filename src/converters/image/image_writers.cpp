#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "converters/image/image_converter.h"
#include "converters/image/pdf_image_writer.h"
#include "core/conversion_error.h"
#include "core/file_writing.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro {

namespace {

std::string base64(const std::vector<uint8_t>& data) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += table[(v >> 18) & 63], out += table[(v >> 12) & 63], out += table[(v >> 6) & 63], out += table[v & 63];
    }
    if (i + 1 == data.size()) {
        const uint32_t v = data[i] << 16;
        out += table[(v >> 18) & 63], out += table[(v >> 12) & 63], out += "==";
    } else if (i + 2 == data.size()) {
        const uint32_t v = (data[i] << 16) | (data[i + 1] << 8);
        out += table[(v >> 18) & 63], out += table[(v >> 12) & 63], out += table[(v >> 6) & 63], out += '=';
    }
    return out;
}

// Written to a temporary name beside the target and renamed: atomically, as the text asks.
void writeTextAtomically(const std::filesystem::path& path, const std::string& text) {
    if (!files::writeAtomically(path, text.data(), text.size()))
        throw std::filesystem::filesystem_error("Cannot write file", path, std::error_code(errno, std::generic_category()));
}

// The whole picture at the largest size that fits the square, keeping its shape, centred on
// transparency: a stretched icon shows a round logo as an egg. A square picture fills it.
imaging::RgbaImage fitInSquare(const imaging::RgbaImage& image, int side) {
    if (image.width == image.height) return imaging::resample(image, side, side);
    const bool wide = image.width > image.height;
    const double shorter = static_cast<double>(wide ? image.height : image.width) * side / (wide ? image.width : image.height);
    const int fitted = std::clamp(static_cast<int>(std::lround(shorter)), 1, side);
    const int w = wide ? side : fitted, h = wide ? fitted : side;
    const imaging::RgbaImage scaled = imaging::resample(image, w, h);
    if (scaled.empty()) return scaled;
    imaging::RgbaImage square(side, side);  // zeroed: transparent
    square.copyColourFrom(scaled);
    const int left = (side - w) / 2, top = (side - h) / 2;
    for (int y = 0; y < h; ++y)
        std::memcpy(square.row(top + y) + static_cast<size_t>(left) * 4, scaled.row(y), static_cast<size_t>(w) * 4);
    return square;
}

}  // namespace

std::filesystem::path ImageConverter::createPDFFromImage(const imaging::RgbaImage& image, const std::filesystem::path& outputURL,
                                                         ConversionLogger& logger) {
    const double w = image.width, h = image.height;
    const double scale = std::min({2000.0 / w, 2000.0 / h, 1.0});
    const double pageWidth = w * scale, pageHeight = h * scale;
    if (!writeImagePDF(image, pageWidth, pageHeight, outputURL)) {
        logger.error("Cannot create PDF context", "Image");
        throw ConversionError::failedToCreateOutput();
    }
    logger.debug("Created " + std::to_string(static_cast<long long>(pageWidth)) + "×" +
                     std::to_string(static_cast<long long>(pageHeight)) + "pt",
                 "Image");
    return outputURL;
}

std::filesystem::path ImageConverter::writeIconSizes(const imaging::RgbaImage& image, const std::filesystem::path& outputURL,
                                                     const int* sizes, int count, const char* type) {
    std::vector<imaging::RgbaImage> renditions;
    for (int i = 0; i < count; ++i) {
        imaging::RgbaImage r = fitInSquare(image, sizes[i]);
        if (!r.empty()) renditions.push_back(std::move(r));
    }
    if (renditions.empty()) throw ConversionError::conversionFailed();
    if (!imaging::canEncode(type)) throw ConversionError::failedToCreateOutput();
    try {
        imaging::writeImageFile(outputURL, renditions, type);
    } catch (const ConversionError& e) {
        if (e.kind() == ConversionError::Kind::failedToCreateOutput) throw;
        throw ConversionError::conversionFailed();
    }
    return outputURL;
}

std::filesystem::path ImageConverter::writeMultiResolutionICO(const imaging::RgbaImage& image, const std::filesystem::path& outputURL) {
    static const int sizes[] = {16, 32, 48, 256};
    return writeIconSizes(image, outputURL, sizes, 4, imaging::types::ico);
}

std::filesystem::path ImageConverter::writeICNS(const imaging::RgbaImage& image, const std::filesystem::path& outputURL) {
    static const int sizes[] = {16, 32, 64, 128, 256, 512, 1024};
    return writeIconSizes(image, outputURL, sizes, 7, imaging::types::icns);
}

std::filesystem::path ImageConverter::writeSVG(const std::filesystem::path&, const imaging::RgbaImage& image,
                                               const std::filesystem::path& outputURL) {
    std::vector<uint8_t> png;
    try {
        imaging::RgbaImage srgb = image;
        imaging::convertToSRGB(srgb);
        png = imaging::encodeImage(srgb, imaging::types::png);
    } catch (const ConversionError&) {
        throw ConversionError::conversionFailed();
    }
    const std::string W = std::to_string(image.width), H = std::to_string(image.height);
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    text += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + W + " " + H + "\" width=\"" + W + "\" height=\"" + H + "\">\n";
    text += "<image href=\"data:image/png;base64," + base64(png) + "\" x=\"0\" y=\"0\" width=\"" + W + "\" height=\"" + H +
            "\" preserveAspectRatio=\"none\"/>\n";
    text += "</svg>";
    writeTextAtomically(outputURL, text);
    return outputURL;
}

}  // namespace calvoro
