#include "compressor/compression_level.h"

namespace calvoro {

namespace {

struct LevelValues {
    const char* raw;
    const char* label;
    double imageQuality;
    double videoBitrateFactor;
    int64_t audioBitrate;
};

constexpr LevelValues table[CompressionLevel::count] = {
    {"maximum", "Maximum Quality", 0.95, 0.85, 256000},
    {"high", "High", 0.82, 0.65, 192000},
    {"balanced", "Balanced", 0.65, 0.45, 128000},
    {"small", "Small", 0.48, 0.30, 96000},
    {"tiny", "Smallest", 0.34, 0.20, 64000},
};

}  // namespace

std::optional<CompressionLevel> CompressionLevel::fromRawValue(std::string_view raw) {
    for (CompressionLevel level : allCases())
        if (raw == table[level.index()].raw) return level;
    return std::nullopt;
}

const std::array<CompressionLevel, CompressionLevel::count>& CompressionLevel::allCases() {
    static const std::array<CompressionLevel, count> all{maximum, high, balanced, small, tiny};
    return all;
}

std::string CompressionLevel::rawValue() const { return table[index()].raw; }
std::string CompressionLevel::label() const { return table[index()].label; }
double CompressionLevel::imageQuality() const { return table[index()].imageQuality; }
double CompressionLevel::videoBitrateFactor() const { return table[index()].videoBitrateFactor; }
int64_t CompressionLevel::audioBitrate() const { return table[index()].audioBitrate; }

}  // namespace calvoro
