#include <algorithm>

#include "core/format_capabilities.h"
#include "core/supported_format.h"

namespace calvoro {

namespace {

using F = SupportedFormat;

const std::vector<F> kRasterTargets = {F::png, F::jpeg, F::tiff, F::bmp, F::gif, F::heic, F::avif,
                                       F::ico, F::psd,  F::tga,  F::jp2, F::icns, F::pdf_image, F::svg};
const std::vector<F> kArchiveTargets = {F::zip, F::tar, F::gzip, F::xz, F::bz2};
const std::vector<F> kTableTargets = {F::csv, F::tsv, F::json, F::html, F::markdown, F::pdf};

std::vector<F> without(const std::vector<F>& list, F source) {
    std::vector<F> out;
    out.reserve(list.size());
    for (F f : list)
        if (f != source) out.push_back(f);
    return out;
}

}  // namespace

std::vector<SupportedFormat> SupportedFormat::rasterTargets(SupportedFormat excluding) {
    std::vector<F> out;
    out.reserve(kRasterTargets.size());
    for (F f : kRasterTargets) {
        if (f == excluding) continue;
        if (excluding == F::jpg && f == F::jpeg) continue;
        if (FormatCapabilities::canProduce(f)) out.push_back(f);
    }
    return out;
}

std::vector<SupportedFormat> SupportedFormat::possibleConversions() const {
    switch (value_) {
        case png: case jpeg: case jpg: case tiff: case bmp: case heic: case heif: case webp: case ico:
        case avif: case psd: case tga: case jp2: case jxl: case icns: case raw:
            return rasterTargets(*this);
        case gif: {
            auto list = rasterTargets(*this);
            list.insert(list.end(), {F::mp4, F::mov, F::m4v});
            return list;
        }
        case mp4: return {F::mov, F::m4v, F::gif, F::extractAudio};
        case mov: return {F::mp4, F::m4v, F::gif, F::extractAudio};
        case m4v: return {F::mp4, F::mov, F::gif, F::extractAudio};
        case avi: case webm: return {F::mp4, F::mov, F::m4v, F::gif, F::extractAudio};
        case mp3: return {F::m4a, F::aac, F::alac, F::wav, F::aiff, F::flac};
        case aac: return {F::m4a, F::alac, F::wav, F::aiff, F::flac};
        case m4a: return {F::aac, F::alac, F::wav, F::aiff, F::flac};
        case wav: return {F::m4a, F::aac, F::alac, F::aiff, F::flac};
        case aiff: return {F::m4a, F::aac, F::alac, F::wav, F::flac};
        case alac: return {F::m4a, F::aac, F::wav, F::aiff, F::flac};
        case flac: return {F::m4a, F::aac, F::alac, F::wav, F::aiff};
        case pdf: return {F::txt, F::html, F::rtf, F::markdown, F::docx, F::epub, F::pdfPagePng, F::pdfPageJpeg, F::pdfSplit};
        case rtf: return {F::txt, F::html, F::pdf, F::markdown, F::docx, F::epub};
        case txt: return {F::html, F::rtf, F::pdf, F::markdown, F::docx, F::epub};
        case html: return {F::txt, F::rtf, F::pdf, F::markdown, F::docx, F::epub};
        case markdown: return {F::html, F::txt, F::rtf, F::pdf, F::docx, F::epub};
        case docx: return {F::txt, F::html, F::rtf, F::pdf, F::markdown, F::epub};
        case zip: case tar: case gzip: case xz: case bz2: {
            std::vector<F> out;
            for (F f : kArchiveTargets)
                if (f != *this && FormatCapabilities::canProduce(f)) out.push_back(f);
            return out;
        }
        case ttf: case otf: return {F::woff, F::woff2};
        case woff: return {F::woff2};
        case woff2: return {F::woff};
        case csv: case tsv: case json: return without(kTableTargets, *this);
        case srt: return {F::vtt, F::txt};
        case vtt: return {F::srt, F::txt};
        case pdf_image: case svg: case epub: case pdfPagePng: case pdfPageJpeg: case pdfSplit: case extractAudio:
            return {};
    }
    return {};
}

std::vector<SupportedFormat> SupportedFormat::commonTargets(FileCategory category) {
    switch (category) {
        case FileCategory::image: return {F::jpeg, F::png, F::heic, F::tiff, F::avif, F::gif, F::pdf_image};
        case FileCategory::video: return {F::mp4, F::mov, F::m4v, F::m4a};
        case FileCategory::audio: return {F::m4a, F::aac, F::alac, F::wav, F::aiff};
        case FileCategory::document: return {F::pdf, F::docx, F::txt, F::html, F::markdown, F::rtf, F::epub};
        case FileCategory::archive: return {F::zip, F::tar, F::gzip};
        case FileCategory::font: return {F::woff2, F::woff};
        case FileCategory::unknown: return {};
    }
    return {};
}

}  // namespace calvoro
