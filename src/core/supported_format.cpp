#include "core/supported_format.h"

#include <algorithm>

#include "core/text_util.h"

namespace calvoro {

namespace {

struct FormatInfo {
    const char* raw;
    const char* display;
    const char* ext;
    FileCategory::Case category;
};

constexpr FormatInfo kFormats[SupportedFormat::count] = {
    {"png", "PNG", "png", FileCategory::image},
    {"jpeg", "JPEG", "jpg", FileCategory::image},
    {"jpg", "JPG", "jpg", FileCategory::image},
    {"tiff", "TIFF", "tiff", FileCategory::image},
    {"bmp", "BMP", "bmp", FileCategory::image},
    {"gif", "GIF", "gif", FileCategory::image},
    {"heic", "HEIC", "heic", FileCategory::image},
    {"heif", "HEIF", "heif", FileCategory::image},
    {"webp", "WebP", "webp", FileCategory::image},
    {"ico", "ICO", "ico", FileCategory::image},
    {"pdf_image", "PDF (Image)", "pdf", FileCategory::image},
    {"avif", "AVIF", "avif", FileCategory::image},
    {"svg", "SVG", "svg", FileCategory::image},
    {"psd", "PSD", "psd", FileCategory::image},
    {"tga", "TGA", "tga", FileCategory::image},
    {"jp2", "JPEG 2000", "jp2", FileCategory::image},
    {"jxl", "JPEG XL", "jxl", FileCategory::image},
    {"icns", "ICNS", "icns", FileCategory::image},
    {"raw", "Camera RAW", "raw", FileCategory::image},
    {"mp4", "MP4", "mp4", FileCategory::video},
    {"mov", "MOV", "mov", FileCategory::video},
    {"m4v", "M4V", "m4v", FileCategory::video},
    {"avi", "AVI", "avi", FileCategory::video},
    {"webm", "WebM", "webm", FileCategory::video},
    {"mp3", "MP3", "mp3", FileCategory::audio},
    {"aac", "AAC", "aac", FileCategory::audio},
    {"m4a", "M4A", "m4a", FileCategory::audio},
    {"wav", "WAV", "wav", FileCategory::audio},
    {"aiff", "AIFF", "aiff", FileCategory::audio},
    {"alac", "ALAC", "m4a", FileCategory::audio},
    {"flac", "FLAC", "flac", FileCategory::audio},
    {"pdf", "PDF", "pdf", FileCategory::document},
    {"rtf", "RTF", "rtf", FileCategory::document},
    {"txt", "TXT", "txt", FileCategory::document},
    {"html", "HTML", "html", FileCategory::document},
    {"markdown", "Markdown", "md", FileCategory::document},
    {"docx", "DOCX", "docx", FileCategory::document},
    {"epub", "EPUB", "epub", FileCategory::document},
    {"zip", "ZIP", "zip", FileCategory::archive},
    {"tar", "TAR", "tar", FileCategory::archive},
    {"gzip", "GZIP", "gz", FileCategory::archive},
    {"xz", "XZ", "xz", FileCategory::archive},
    {"bz2", "BZ2", "bz2", FileCategory::archive},
    {"ttf", "TTF", "ttf", FileCategory::font},
    {"otf", "OTF", "otf", FileCategory::font},
    {"woff", "WOFF", "woff", FileCategory::font},
    {"woff2", "WOFF2", "woff2", FileCategory::font},
    {"csv", "CSV", "csv", FileCategory::document},
    {"tsv", "TSV", "tsv", FileCategory::document},
    {"json", "JSON", "json", FileCategory::document},
    {"srt", "SRT", "srt", FileCategory::document},
    {"vtt", "WebVTT", "vtt", FileCategory::document},
    {"pdfPagePng", "PNG (per page)", "png", FileCategory::image},
    {"pdfPageJpeg", "JPEG (per page)", "jpg", FileCategory::image},
    {"pdfSplit", "Split PDF (per page)", "pdf", FileCategory::document},
    {"extractAudio", "Extract Audio (M4A)", "m4a", FileCategory::audio},
};

struct Alias {
    const char* extension;
    SupportedFormat::Case format;
};

constexpr Alias kAliases[] = {
    {"png", SupportedFormat::png}, {"jpeg", SupportedFormat::jpeg}, {"jpg", SupportedFormat::jpg},
    {"tiff", SupportedFormat::tiff}, {"tif", SupportedFormat::tiff}, {"bmp", SupportedFormat::bmp},
    {"gif", SupportedFormat::gif}, {"heic", SupportedFormat::heic}, {"heif", SupportedFormat::heif},
    {"webp", SupportedFormat::webp}, {"ico", SupportedFormat::ico}, {"avif", SupportedFormat::avif},
    {"psd", SupportedFormat::psd}, {"tga", SupportedFormat::tga}, {"targa", SupportedFormat::tga},
    {"jp2", SupportedFormat::jp2}, {"jpf", SupportedFormat::jp2}, {"jpx", SupportedFormat::jp2},
    {"j2k", SupportedFormat::jp2}, {"jxl", SupportedFormat::jxl}, {"icns", SupportedFormat::icns},
    {"cr2", SupportedFormat::raw}, {"cr3", SupportedFormat::raw}, {"crw", SupportedFormat::raw},
    {"nef", SupportedFormat::raw}, {"nrw", SupportedFormat::raw}, {"arw", SupportedFormat::raw},
    {"sr2", SupportedFormat::raw}, {"srf", SupportedFormat::raw}, {"dng", SupportedFormat::raw},
    {"orf", SupportedFormat::raw}, {"raf", SupportedFormat::raw}, {"rw2", SupportedFormat::raw},
    {"pef", SupportedFormat::raw}, {"3fr", SupportedFormat::raw}, {"fff", SupportedFormat::raw},
    {"rwl", SupportedFormat::raw}, {"erf", SupportedFormat::raw}, {"mrw", SupportedFormat::raw},
    {"dcr", SupportedFormat::raw}, {"kdc", SupportedFormat::raw}, {"mos", SupportedFormat::raw},
    {"iiq", SupportedFormat::raw}, {"x3f", SupportedFormat::raw},
    {"mp4", SupportedFormat::mp4}, {"mov", SupportedFormat::mov}, {"m4v", SupportedFormat::m4v},
    {"avi", SupportedFormat::avi}, {"mp3", SupportedFormat::mp3}, {"aac", SupportedFormat::aac},
    {"m4a", SupportedFormat::m4a}, {"wav", SupportedFormat::wav}, {"aiff", SupportedFormat::aiff},
    {"aif", SupportedFormat::aiff}, {"alac", SupportedFormat::alac}, {"flac", SupportedFormat::flac},
    {"pdf", SupportedFormat::pdf}, {"rtf", SupportedFormat::rtf}, {"txt", SupportedFormat::txt},
    {"text", SupportedFormat::txt}, {"html", SupportedFormat::html}, {"htm", SupportedFormat::html},
    {"md", SupportedFormat::markdown}, {"markdown", SupportedFormat::markdown}, {"docx", SupportedFormat::docx},
    {"zip", SupportedFormat::zip}, {"tar", SupportedFormat::tar}, {"gz", SupportedFormat::gzip},
    {"gzip", SupportedFormat::gzip}, {"xz", SupportedFormat::xz}, {"lzma", SupportedFormat::xz},
    {"bz2", SupportedFormat::bz2}, {"bzip2", SupportedFormat::bz2}, {"ttf", SupportedFormat::ttf},
    {"otf", SupportedFormat::otf}, {"woff", SupportedFormat::woff}, {"woff2", SupportedFormat::woff2},
    {"csv", SupportedFormat::csv}, {"tsv", SupportedFormat::tsv}, {"json", SupportedFormat::json},
    {"srt", SupportedFormat::srt}, {"vtt", SupportedFormat::vtt}, {"webvtt", SupportedFormat::vtt},
};

const FormatInfo& info(SupportedFormat f) { return kFormats[static_cast<int>(SupportedFormat::Case(f))]; }

}  // namespace

std::optional<FileCategory> FileCategory::fromRawValue(std::string_view raw) {
    for (auto c : allCases())
        if (c.rawValue() == raw) return c;
    return std::nullopt;
}

const std::array<FileCategory, 7>& FileCategory::allCases() {
    static const std::array<FileCategory, 7> cases{image, video, audio, document, archive, font, unknown};
    return cases;
}

std::string FileCategory::rawValue() const {
    switch (value_) {
        case image: return "Image";
        case video: return "Video";
        case audio: return "Audio";
        case document: return "Document";
        case archive: return "Archive";
        case font: return "Font";
        case unknown: return "Unknown";
    }
    return "Unknown";
}

std::string FileCategory::icon() const {
    switch (value_) {
        case image: return "photo";
        case video: return "film";
        case audio: return "waveform";
        case document: return "doc.text";
        case archive: return "archivebox";
        case font: return "textformat";
        case unknown: return "questionmark.folder";
    }
    return "questionmark.folder";
}

std::optional<SupportedFormat> SupportedFormat::fromRawValue(std::string_view raw) {
    for (int i = 0; i < count; ++i)
        if (raw == kFormats[i].raw) return SupportedFormat(static_cast<Case>(i));
    return std::nullopt;
}

std::optional<SupportedFormat> SupportedFormat::from(std::string_view extension) {
    if (extension.empty()) return std::nullopt;
    std::string lowered = unicodeLowercased(extension);
    for (const auto& alias : kAliases)
        if (lowered == alias.extension) return SupportedFormat(alias.format);
    return std::nullopt;
}

std::vector<std::string> SupportedFormat::knownExtensions() {
    std::vector<std::string> extensions;
    for (const auto& alias : kAliases) extensions.emplace_back(alias.extension);
    return extensions;
}

const std::array<SupportedFormat, SupportedFormat::count>& SupportedFormat::allCases() {
    static const auto cases = [] {
        std::array<SupportedFormat, count> all{png, png, png, png, png, png, png, png, png, png, png, png, png, png,
                                               png, png, png, png, png, png, png, png, png, png, png, png, png, png,
                                               png, png, png, png, png, png, png, png, png, png, png, png, png, png,
                                               png, png, png, png, png, png, png, png, png, png, png, png, png, png};
        for (int i = 0; i < count; ++i) all[i] = SupportedFormat(static_cast<Case>(i));
        return all;
    }();
    return cases;
}

std::string SupportedFormat::rawValue() const { return info(*this).raw; }
std::string SupportedFormat::displayName() const { return info(*this).display; }
std::string SupportedFormat::fileExtension() const { return info(*this).ext; }
FileCategory SupportedFormat::category() const { return info(*this).category; }

bool SupportedFormat::isMultiFileOutput() const {
    return value_ == pdfPagePng || value_ == pdfPageJpeg || value_ == pdfSplit;
}

}  // namespace calvoro
