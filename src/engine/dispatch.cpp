// The router: runs the one converter operation that routeFor chose.
#include <algorithm>
#include <limits>
#include <optional>

#include "converters/archive/archive_converter.h"
#include "converters/data/data_converter.h"
#include "converters/document/text_pages.h"
#include "converters/font/font_converter.h"
#include "converters/image/image_converter.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"
#include "modules/documents_module.h"
#include "engine/conversion_engine.h"
#include "engine/job_routing.h"

namespace calvoro {
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
        case Operation::imagePDFPages:
            return documents::convertPDFPages(source, target, outputDir, route.quality, cancellation);
        case Operation::image:
            return ImageConverter::convert(source, target, outputDir, route.quality, toInt(route.maxEdge), route.stripMetadata);
        case Operation::splitPDF:
            return documents::splitPDF(source, outputDir, cancellation);
        case Operation::document:
            return documents::convert(source, job.detectedFormat, target, outputDir, cancellation);
        case Operation::data:
            return DataConverter::convert(source, job.detectedFormat, target, outputDir);
        case Operation::textPage:
            return DocumentConverter::convertTextPage(source, job.detectedFormat, target, outputDir);
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
    }
    // Every operation has a case above; this keeps an unknown value from falling through.
    throw ConversionError::unsupportedConversion(job.detectedFormat.displayName(), target.displayName());
}

}  // namespace

fs::path ConversionEngine::dispatch(const ConversionJob& job, SupportedFormat target, const fs::path& outputDir,
                                    const ProgressHandler& progressHandler, const CancellationToken& cancellation) {
    cancellation.throwIfCancelled();
    const routing::Route route = routing::routeFor(job, target);
    auto report = [&](double value) {
        if (progressHandler) progressHandler(value);
    };
    if (route.progressBefore) report(*route.progressBefore);
    // The media converters call the handler they get; an empty one stands for "not interested".
    const ProgressHandler passedOn = progressHandler ? progressHandler : ProgressHandler([](double) {});
    fs::path output = run(route, job, target, outputDir, passedOn, cancellation);
    if (route.progressBefore) report(1.0);
    return output;
}

}  // namespace calvoro
