#include "app/entry/desktop/convert_format_choice.h"

namespace calvoro {

namespace {

struct Row {
    const char* rawValue;
    const char* title;
    std::optional<SupportedFormat> format;
};

const std::array<Row, ConvertFormatChoice::count>& rows() {
    static const std::array<Row, ConvertFormatChoice::count> table{{
        {"jpeg", "JPEG", SupportedFormat::jpeg},
        {"png", "PNG", SupportedFormat::png},
        {"heic", "HEIC", SupportedFormat::heic},
        {"tiff", "TIFF", SupportedFormat::tiff},
        {"gif", "GIF", SupportedFormat::gif},
        {"pdf", "PDF", std::nullopt},
        {"mp4", "MP4", SupportedFormat::mp4},
        {"mov", "MOV", SupportedFormat::mov},
        {"m4a", "M4A (audio)", SupportedFormat::m4a},
        {"wav", "WAV", SupportedFormat::wav},
        {"aiff", "AIFF", SupportedFormat::aiff},
        {"txt", "Plain Text", SupportedFormat::txt},
        {"html", "HTML", SupportedFormat::html},
        {"zip", "ZIP", SupportedFormat::zip},
        {"tar", "TAR", SupportedFormat::tar},
    }};
    return table;
}

}  // namespace

const std::array<ConvertFormatChoice, ConvertFormatChoice::count>& ConvertFormatChoice::allCases() {
    static const std::array<ConvertFormatChoice, count> cases{jpeg, png, heic, tiff, gif, pdf, mp4, mov,
                                                              m4a, wav, aiff, txt, html, zip, tar};
    return cases;
}

std::optional<ConvertFormatChoice> ConvertFormatChoice::fromRawValue(std::string_view raw) {
    for (ConvertFormatChoice choice : allCases())
        if (raw == rows()[choice].rawValue) return choice;
    return std::nullopt;
}

std::string ConvertFormatChoice::rawValue() const { return rows()[value_].rawValue; }

std::string ConvertFormatChoice::title() const { return rows()[value_].title; }

std::optional<SupportedFormat> ConvertFormatChoice::supportedFormat() const { return rows()[value_].format; }

std::optional<SupportedFormat> ConvertFormatChoice::resolve(ConvertFormatChoice choice, SupportedFormat source) {
    if (choice == pdf) return source.category() == FileCategory::image ? SupportedFormat::pdf_image : SupportedFormat::pdf;
    return choice.supportedFormat();
}

}  // namespace calvoro
