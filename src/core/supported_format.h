#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro {

class FileCategory {
public:
    enum Case { image, video, audio, document, archive, font, unknown };

    constexpr FileCategory(Case c) : value_(c) {}
    constexpr operator Case() const { return value_; }

    static std::optional<FileCategory> fromRawValue(std::string_view raw);
    static const std::array<FileCategory, 7>& allCases();

    std::string rawValue() const;
    std::string id() const { return rawValue(); }
    // Symbol name of the category's icon.
    std::string icon() const;

private:
    Case value_;
};

class SupportedFormat {
public:
    enum Case {
        png, jpeg, jpg, tiff, bmp, gif, heic, heif, webp, ico, pdf_image, avif, svg, psd, tga, jp2, jxl, icns, raw,
        mp4, mov, m4v, avi, webm,
        mp3, aac, m4a, wav, aiff, alac, flac,
        pdf, rtf, txt, html, markdown, docx, epub,
        zip, tar, gzip, xz, bz2,
        ttf, otf, woff, woff2,
        csv, tsv, json, srt, vtt,
        pdfPagePng, pdfPageJpeg, pdfSplit, extractAudio,
    };
    static constexpr int count = 56;

    constexpr SupportedFormat(Case c) : value_(c) {}
    constexpr operator Case() const { return value_; }

    // Exact, case-sensitive match of the identifier.
    static std::optional<SupportedFormat> fromRawValue(std::string_view raw);
    // The format a bare file extension names (no dot), after full Unicode lower-casing.
    static std::optional<SupportedFormat> from(std::string_view extension);
    // Every extension from() knows, lower case, in table order.
    static std::vector<std::string> knownExtensions();
    static const std::array<SupportedFormat, count>& allCases();

    std::string rawValue() const;
    std::string id() const { return rawValue(); }
    std::string displayName() const;
    std::string fileExtension() const;
    FileCategory category() const;
    bool isMultiFileOutput() const;

    // Conversion table.
    std::vector<SupportedFormat> possibleConversions() const;
    static std::vector<SupportedFormat> rasterTargets(SupportedFormat excluding);
    static std::vector<SupportedFormat> commonTargets(FileCategory category);

private:
    Case value_;
};

}  // namespace calvoro

template <>
struct std::hash<calvoro::SupportedFormat> {
    size_t operator()(calvoro::SupportedFormat f) const noexcept { return static_cast<size_t>(f.operator calvoro::SupportedFormat::Case()); }
};
template <>
struct std::hash<calvoro::FileCategory> {
    size_t operator()(calvoro::FileCategory c) const noexcept { return static_cast<size_t>(c.operator calvoro::FileCategory::Case()); }
};
