#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/supported_format.h"
#include "core/uuid.h"

namespace calvoro {

class ConversionStatus {
public:
    enum Case { pending, converting, completed, failed };
    constexpr ConversionStatus(Case c) : value_(c) {}
    constexpr operator Case() const { return value_; }
    static std::optional<ConversionStatus> fromRawValue(std::string_view raw);
    std::string rawValue() const;

private:
    Case value_;
};

// One file to convert. A value: copies go to the engine and the converters.
struct ConversionJob {
    ConversionJob(std::filesystem::path sourceURL, std::string fileName, int64_t fileSize, SupportedFormat detectedFormat)
        : sourceURL(std::move(sourceURL)), fileName(std::move(fileName)), fileSize(fileSize), detectedFormat(detectedFormat) {}

    Uuid id;
    std::filesystem::path sourceURL;
    std::string fileName;
    int64_t fileSize = 0;
    SupportedFormat detectedFormat;
    std::optional<SupportedFormat> targetFormat;
    ConversionStatus status = ConversionStatus::pending;
    double progress = 0.0;
    std::optional<std::filesystem::path> outputURL;
    std::optional<int64_t> outputSize;
    std::optional<std::string> errorMessage;
    std::optional<std::filesystem::path> customOutputDir;
    std::optional<double> imageQuality;
    std::optional<long> imageMaxEdge;
    bool stripMetadata = false;
    std::optional<long> audioBitrate;
    std::optional<double> videoGifFPS;
    std::optional<long> videoGifWidth;

    FileCategory category() const { return detectedFormat.category(); }
    std::string fileSizeFormatted() const;
    std::optional<std::string> sizeDeltaFormatted() const;

    friend bool operator==(const ConversionJob&, const ConversionJob&) = default;
};

}  // namespace calvoro

template <>
struct std::hash<calvoro::ConversionJob> {
    size_t operator()(const calvoro::ConversionJob& j) const noexcept { return std::hash<calvoro::Uuid>()(j.id); }
};
