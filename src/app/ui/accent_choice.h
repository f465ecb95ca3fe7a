#pragma once

// The accent colours the user picks from. Free of Qt so that the view model can hold one.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

namespace calvoro {

class AccentChoice {
public:
    enum Value : std::uint8_t { paper, silver, graphite, slate, blue, indigo, purple, pink, red, orange, green, teal, custom };

    constexpr AccentChoice(Value value = blue) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // The custom colour as 0xRRGGBB; written by the view model whenever the custom accent changes.
    static inline std::atomic<std::uint32_t> customHex{0x4C9AFF};

    static constexpr std::array<Value, 13> allCases{paper, silver, graphite, slate, blue,   indigo, purple,
                                                    pink,  red,    orange,   green, teal,   custom};
    // What the accent swatches show: every case but custom.
    static constexpr std::array<Value, 12> presets{paper, silver, graphite, slate, blue,  indigo,
                                                   purple, pink,  red,      orange, green, teal};

    // Exact, lower-case raw values only.
    static constexpr std::optional<AccentChoice> fromRawValue(std::string_view raw) {
        for (Value value : allCases)
            if (AccentChoice(value).rawValue() == raw) return AccentChoice(value);
        return std::nullopt;
    }

    constexpr std::string_view rawValue() const { return entry().raw; }
    constexpr std::string_view id() const { return rawValue(); }
    constexpr std::string_view label() const { return entry().label; }

    // 0xRRGGBB of the base colour; custom reads customHex afresh on every call.
    std::uint32_t baseRgb() const { return value_ == custom ? customHex.load() & 0xFFFFFF : entry().rgb; }

private:
    struct Entry {
        std::string_view raw;
        std::string_view label;
        std::uint32_t rgb;
    };
    static constexpr std::array<Entry, 13> entries{{
        {"paper", "Paper", 0xF5F6F9},
        {"silver", "Silver", 0xD2D5DA},
        {"graphite", "Graphite", 0xA8ADB4},
        {"slate", "Slate", 0x82888F},
        {"blue", "Blue", 0x4C9AFF},
        {"indigo", "Indigo", 0x7A7BFF},
        {"purple", "Purple", 0xAF7BFF},
        {"pink", "Pink", 0xFF6FA5},
        {"red", "Red", 0xFF6B5E},
        {"orange", "Orange", 0xFF9F45},
        {"green", "Green", 0x46D07F},
        {"teal", "Teal", 0x3FC7C7},
        {"custom", "Custom", 0},
    }};
    constexpr const Entry& entry() const { return entries[value_]; }

    Value value_;
};

}  // namespace calvoro
