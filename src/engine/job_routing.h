#pragma once

#include <optional>

#include "core/conversion_defaults.h"
#include "core/conversion_job.h"
#include "core/supported_format.h"

namespace calvoro::routing {

// The converter operation that runs a job.
enum class Operation {
    imagePDFPages,     // ImageConverter::convertPDFPages
    splitPDF,          // DocumentConverter::splitPDF
    document,          // DocumentConverter::convert, in the documents module
    data,              // DataConverter::convert: tables and subtitles
    textPage,          // DocumentConverter::convertTextPage: text and Markdown to HTML
    extractAudio,      // VideoAudioConverter::extractAudio
    videoToGIF,        // VideoAudioConverter::videoToGIF
    convertVideo,      // VideoAudioConverter::convertVideo
    gifToVideo,        // VideoAudioConverter::gifToVideo
    image,             // ImageConverter::convert
    convertAudio,      // VideoAudioConverter::convertAudio
    archive,           // ArchiveConverter::convert
    font,              // FontConverter::convert
};

// One decided route with the arguments filled from the job. Defaults are applied here only.
struct Route {
    Operation operation = Operation::document;
    double quality = defaultImageQuality;    // image routes
    std::optional<long> maxEdge;             // ImageConverter::convert, absent stays absent
    bool stripMetadata = false;              // ImageConverter::convert
    std::optional<long> bitrate;             // convertAudio, absent stays absent
    double fps = defaultGIFFramesPerSecond;  // videoToGIF
    long maxWidth = defaultGIFWidth;         // videoToGIF
    // Coarse progress reported before the call (1.0 follows a successful return); absent for
    // the media operations, which report their own.
    std::optional<double> progressBefore;
};

// The first matching rule decides; every job has a route.
Route routeFor(const ConversionJob& job, SupportedFormat target);

}  // namespace calvoro::routing
