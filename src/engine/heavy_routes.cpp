// The heavy rooms' end of the table: the operations and checks the plain engine hands over.
#include <algorithm>
#include <limits>
#include <optional>

#include "converters/archive/archive_converter.h"
#include "converters/font/font_converter.h"
#include "converters/image/image_converter.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"
#include "engine/heavy_routes.h"
#include "engine/validation_checks.h"

namespace calvoro::heavy {
namespace {

namespace fs = std::filesystem;
using routing::Operation;

std::optional<int> toInt(const std::optional<long>& value) {
    if (!value) return std::nullopt;
    return static_cast<int>(std::clamp<long>(*value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

fs::path run(const routing::Route& route, const ConversionJob& job, SupportedFormat target, const fs::path& outputDir,
             const ConversionEngine::ProgressHandler& progress, const CancellationToken& cancellation) {
    const fs::path& source = job.sourceURL;
    switch (route.operation) {
        case Operation::font:
            return FontConverter::convert(source, job.detectedFormat, target, outputDir);
        case Operation::archive:
            return ArchiveConverter::convert(source, job.detectedFormat, target, outputDir, cancellation);
        case Operation::image:
            return ImageConverter::convert(source, target, outputDir, route.quality, toInt(route.maxEdge), route.stripMetadata);
        case Operation::extractAudio:
            return VideoAudioConverter::extractAudio(source, outputDir, progress, cancellation);
        case Operation::convertVideo:
            return VideoAudioConverter::convertVideo(source, target, outputDir, progress, cancellation);
        case Operation::convertAudio:
            return VideoAudioConverter::convertAudio(source, target, outputDir, toInt(route.bitrate), progress, cancellation);
        case Operation::videoToGIF:
            return VideoAudioConverter::videoToGIF(source, outputDir, route.fps, toInt(route.maxWidth).value_or(0), progress, cancellation);
        case Operation::gifToVideo:
            return VideoAudioConverter::gifToVideo(source, target, outputDir, progress, cancellation);
        case Operation::imagePDFPages: case Operation::splitPDF: case Operation::document: case Operation::data:
        case Operation::textPage:
            break;
    }
    // The plain engine runs the other operations itself.
    throw ConversionError::unsupportedConversion(job.detectedFormat.displayName(), target.displayName());
}

ValidationStatus validate(SupportedFormat target, const fs::path& output) {
    using namespace validation;
    switch (target) {
        case SupportedFormat::mp4: case SupportedFormat::mov: case SupportedFormat::m4v:
            return validateMedia(output, MediaType::video);
        case SupportedFormat::mp3: case SupportedFormat::aac: case SupportedFormat::m4a: case SupportedFormat::wav:
        case SupportedFormat::aiff: case SupportedFormat::alac: case SupportedFormat::flac: case SupportedFormat::extractAudio:
            return validateMedia(output, MediaType::audio);
        case SupportedFormat::pdfPagePng: case SupportedFormat::pdfPageJpeg: case SupportedFormat::pdfSplit:
            return validateFolderOutput(target, output);
        case SupportedFormat::rtf:
            return validateRTF(output);
        case SupportedFormat::docx:
            return validateDOCX(output);
        case SupportedFormat::ttf: case SupportedFormat::otf: case SupportedFormat::woff: case SupportedFormat::woff2:
            return validateFont(output, target);
        case SupportedFormat::png: case SupportedFormat::jpeg: case SupportedFormat::jpg: case SupportedFormat::tiff:
        case SupportedFormat::bmp: case SupportedFormat::gif: case SupportedFormat::heic: case SupportedFormat::heif:
        case SupportedFormat::webp: case SupportedFormat::ico: case SupportedFormat::avif: case SupportedFormat::psd:
        case SupportedFormat::tga: case SupportedFormat::jp2: case SupportedFormat::icns:
            return validateImage(output);
        default:
            // The plain validator checks the other targets itself.
            return ValidationStatus::failed("Output could not be checked");
    }
}

const ModuleTable table{moduleVersion, &run, &validate};

}  // namespace
}  // namespace calvoro::heavy

extern "C" __attribute__((visibility("default"))) const calvoro::heavy::ModuleTable* calvoro_rooms_module() {
    return &calvoro::heavy::table;
}
