#include "engine/validator.h"

#include <exception>

#include "engine/heavy_routes.h"
#include "engine/validation_checks.h"

namespace calvoro {

using validation::PDFBackgroundRequirement;

namespace {

Validator::ValidationStatus choose(SupportedFormat target, const std::filesystem::path& output,
                                   std::optional<SupportedFormat> source) {
    using namespace validation;
    switch (target) {
        case SupportedFormat::png: case SupportedFormat::jpeg: case SupportedFormat::jpg: case SupportedFormat::tiff:
        case SupportedFormat::bmp: case SupportedFormat::gif: case SupportedFormat::heic: case SupportedFormat::heif:
        case SupportedFormat::webp: case SupportedFormat::ico: case SupportedFormat::avif: case SupportedFormat::psd:
        case SupportedFormat::tga: case SupportedFormat::jp2: case SupportedFormat::icns:
        case SupportedFormat::mp4: case SupportedFormat::mov: case SupportedFormat::m4v:
        case SupportedFormat::mp3: case SupportedFormat::aac: case SupportedFormat::m4a: case SupportedFormat::wav:
        case SupportedFormat::aiff: case SupportedFormat::alac: case SupportedFormat::flac: case SupportedFormat::extractAudio:
        case SupportedFormat::pdfPagePng: case SupportedFormat::pdfPageJpeg: case SupportedFormat::pdfSplit:
        case SupportedFormat::rtf: case SupportedFormat::docx:
        case SupportedFormat::ttf: case SupportedFormat::otf: case SupportedFormat::woff: case SupportedFormat::woff2:
            // Their readers are among the heavy rooms.
            return heavy::module().validate(target, output);
        case SupportedFormat::pdf:
            // A web page is rendered in the light scheme; a background it paints is its own.
            return validatePDF(output, 1, source == SupportedFormat::html ? PDFBackgroundRequirement::paintedPage
                                                                          : PDFBackgroundRequirement::whitePage);
        case SupportedFormat::pdf_image:
            return validatePDF(output, 1, PDFBackgroundRequirement::opaquePage);
        case SupportedFormat::svg:
            return validateSVG(output);
        case SupportedFormat::txt: case SupportedFormat::markdown:
            return validateText(output);
        case SupportedFormat::html:
            return validateHTML(output);
        case SupportedFormat::epub:
            return validateMagicBytes(output, {0x50, 0x4B, 0x03, 0x04}, "EPUB (ZIP magic)");
        case SupportedFormat::zip:
            return validateMagicBytes(output, {0x50, 0x4B, 0x03, 0x04}, "ZIP magic");
        case SupportedFormat::gzip:
            return validateMagicBytes(output, {0x1F, 0x8B}, "GZIP magic");
        case SupportedFormat::xz:
            return validateMagicBytes(output, {0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00}, "XZ magic");
        case SupportedFormat::bz2:
            return validateMagicBytes(output, {0x42, 0x5A, 0x68}, "BZIP2 magic");
        case SupportedFormat::tar:
            return validateTAR(output);
        case SupportedFormat::csv:
            return validateDelimited(output, ',');
        case SupportedFormat::tsv:
            return validateDelimited(output, '\t');
        case SupportedFormat::json:
            return validateJSON(output);
        case SupportedFormat::srt: case SupportedFormat::vtt:
            return validateSubtitles(output, target);
        case SupportedFormat::jxl: case SupportedFormat::raw: case SupportedFormat::avi: case SupportedFormat::webm:
            // No reader here checks these; the output is taken as written.
            return Validator::ValidationStatus::passed();
    }
    return Validator::ValidationStatus::passed();
}

}  // namespace

Validator::ValidationStatus Validator::validate(SupportedFormat target, const std::filesystem::path& output,
                                                std::optional<SupportedFormat> source) {
    try {
        return choose(target, output, source);
    } catch (const std::exception& e) {
        return ValidationStatus::failed(e.what());
    } catch (...) {
        return ValidationStatus::failed("Output could not be checked");
    }
}

}  // namespace calvoro
