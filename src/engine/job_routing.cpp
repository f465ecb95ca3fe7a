#include "engine/job_routing.h"

#include "converters/document/text_pages.h"

namespace calvoro::routing {
namespace {

bool isVideo(SupportedFormat f) {
    switch (f) {
        case SupportedFormat::mp4: case SupportedFormat::mov: case SupportedFormat::m4v:
        case SupportedFormat::avi: case SupportedFormat::webm:
            return true;
        default:
            return false;
    }
}

bool isGIFToVideoTarget(SupportedFormat f) {
    return f == SupportedFormat::mp4 || f == SupportedFormat::mov || f == SupportedFormat::m4v;
}

Route coarse(Operation op, double before = 0.3) {
    Route r;
    r.operation = op;
    r.progressBefore = before;
    return r;
}

Route media(Operation op) {
    Route r;
    r.operation = op;
    return r;
}

Route imageRoute(const ConversionJob& job) {
    Route r = coarse(Operation::image);
    r.quality = job.imageQuality.value_or(defaultImageQuality);
    r.maxEdge = job.imageMaxEdge;
    r.stripMetadata = job.stripMetadata;
    return r;
}

}  // namespace

Route routeFor(const ConversionJob& job, SupportedFormat target) {
    const SupportedFormat source = job.detectedFormat;

    if (source == SupportedFormat::pdf) {
        if (target == SupportedFormat::pdfPagePng || target == SupportedFormat::pdfPageJpeg) {
            Route r = coarse(Operation::imagePDFPages);
            r.quality = job.imageQuality.value_or(defaultImageQuality);
            return r;
        }
        if (target == SupportedFormat::pdfSplit) return coarse(Operation::splitPDF);
        // Image targets of a PDF go to the document converter too, which decides.
        return coarse(Operation::document);
    }
    if (isVideo(source) && target == SupportedFormat::extractAudio) return media(Operation::extractAudio);
    if (isVideo(source) && target == SupportedFormat::gif) {
        Route r = media(Operation::videoToGIF);
        r.fps = job.videoGifFPS.value_or(defaultGIFFramesPerSecond);
        r.maxWidth = job.videoGifWidth.value_or(defaultGIFWidth);
        return r;
    }
    if (isVideo(source)) return media(Operation::convertVideo);
    if (source == SupportedFormat::gif && isGIFToVideoTarget(target)) return media(Operation::gifToVideo);

    // Text and Markdown pages are written without the documents module.
    if (DocumentConverter::isTextPage(source, target)) return coarse(Operation::textPage);

    switch (source) {
        case SupportedFormat::png: case SupportedFormat::jpeg: case SupportedFormat::jpg: case SupportedFormat::tiff:
        case SupportedFormat::bmp: case SupportedFormat::gif: case SupportedFormat::heic: case SupportedFormat::heif:
        case SupportedFormat::webp: case SupportedFormat::ico: case SupportedFormat::pdf_image: case SupportedFormat::avif:
        case SupportedFormat::svg: case SupportedFormat::psd: case SupportedFormat::tga: case SupportedFormat::jp2:
        case SupportedFormat::jxl: case SupportedFormat::icns: case SupportedFormat::raw:
        case SupportedFormat::pdfPagePng: case SupportedFormat::pdfPageJpeg:
            return imageRoute(job);

        case SupportedFormat::mp3: case SupportedFormat::aac: case SupportedFormat::m4a: case SupportedFormat::wav:
        case SupportedFormat::aiff: case SupportedFormat::alac: case SupportedFormat::flac:
        case SupportedFormat::extractAudio: {
            Route r = media(Operation::convertAudio);
            r.bitrate = job.audioBitrate;
            return r;
        }

        case SupportedFormat::zip: case SupportedFormat::tar: case SupportedFormat::gzip:
        case SupportedFormat::xz: case SupportedFormat::bz2:
            return coarse(Operation::archive, 0.2);

        case SupportedFormat::ttf: case SupportedFormat::otf: case SupportedFormat::woff: case SupportedFormat::woff2:
            return coarse(Operation::font);

        // Tables and subtitles need the documents module only to print a PDF, which the data
        // converter asks it for.
        case SupportedFormat::csv: case SupportedFormat::tsv: case SupportedFormat::json:
        case SupportedFormat::srt: case SupportedFormat::vtt:
            return coarse(Operation::data);

        default:
            // rtf, txt, html, markdown, docx, epub, pdfSplit
            return coarse(Operation::document);
    }
}

}  // namespace calvoro::routing
