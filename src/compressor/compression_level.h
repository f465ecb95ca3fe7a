#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// One of the five strengths a file can be re-encoded at, strongest quality first.
class CompressionLevel {
public:
    enum Case { maximum, high, balanced, small, tiny };
    static constexpr int count = 5;

    constexpr CompressionLevel(Case c) : value_(c) {}
    constexpr operator Case() const { return value_; }

    // Exactly the five raw values, case-sensitive; nothing for any other text.
    static std::optional<CompressionLevel> fromRawValue(std::string_view raw);
    // maximum, high, balanced, small, tiny: the order every list of levels follows.
    static const std::array<CompressionLevel, count>& allCases();

    std::string rawValue() const;
    std::string id() const { return rawValue(); }
    // "Maximum Quality", "High", "Balanced", "Small", "Smallest".
    std::string label() const;
    // Lossy quality (0..1) handed to the image encoder.
    double imageQuality() const;
    // Share of the source video track's data rate kept by the video encoder.
    double videoBitrateFactor() const;
    // AAC bit rate in bits per second.
    int64_t audioBitrate() const;

    // Position in allCases().
    int index() const { return static_cast<int>(value_); }

private:
    Case value_;
};

}  // namespace calvoro

template <>
struct std::hash<calvoro::CompressionLevel> {
    size_t operator()(calvoro::CompressionLevel l) const noexcept { return static_cast<size_t>(l.index()); }
};
