#pragma once

#include <QColor>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// The accent colour the user picks: twelve presets or a custom colour.
class AccentChoice {
public:
    enum Case { paper, silver, graphite, slate, blue, indigo, purple, pink, red, orange, green, teal, custom };
    static constexpr int count = 13;

    constexpr AccentChoice(Case c) : value_(c) {}
    constexpr operator Case() const { return value_; }

    // Exact lower-case raw value; nothing for any other text.
    static std::optional<AccentChoice> fromRawValue(std::string_view raw);
    static const std::array<AccentChoice, count>& allCases();
    // Every case but custom, in order.
    static const std::array<AccentChoice, count - 1>& presets();

    std::string rawValue() const;
    std::string id() const { return rawValue(); }
    std::string label() const;
    // For custom, built from customHex at every call.
    QColor baseColor() const;

    // The custom colour as 0xRRGGBB; written by the view model when the custom accent changes.
    static std::atomic<uint32_t> customHex;

private:
    Case value_;
};

// A colour's 24-bit sRGB value: each channel times 255, clamped and truncated; opacity dropped.
uint32_t hexValue(const QColor& color);
// The opaque sRGB colour of a 0xRRGGBB value.
QColor colorFromHex(uint32_t hex);

}  // namespace calvoro

template <>
struct std::hash<calvoro::AccentChoice> {
    size_t operator()(calvoro::AccentChoice a) const noexcept { return static_cast<size_t>(a.operator calvoro::AccentChoice::Case()); }
};
