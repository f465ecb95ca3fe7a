#include "app/state/accent_choice.h"

#include <algorithm>
#include <cmath>

namespace calvoro {
namespace {

struct Entry {
    const char* raw;
    const char* label;
    uint32_t rgb;
};

constexpr Entry kEntries[AccentChoice::count] = {
    {"paper", "Paper", 0xF5F6F9},    {"silver", "Silver", 0xD2D5DA}, {"graphite", "Graphite", 0xA8ADB4},
    {"slate", "Slate", 0x82888F},    {"blue", "Blue", 0x4C9AFF},     {"indigo", "Indigo", 0x7A7BFF},
    {"purple", "Purple", 0xAF7BFF},  {"pink", "Pink", 0xFF6FA5},     {"red", "Red", 0xFF6B5E},
    {"orange", "Orange", 0xFF9F45},  {"green", "Green", 0x46D07F},   {"teal", "Teal", 0x3FC7C7},
    {"custom", "Custom", 0},
};

}  // namespace

std::atomic<uint32_t> AccentChoice::customHex{0x4C9AFF};

std::optional<AccentChoice> AccentChoice::fromRawValue(std::string_view raw) {
    for (auto c : allCases())
        if (raw == kEntries[c].raw) return c;
    return std::nullopt;
}

const std::array<AccentChoice, AccentChoice::count>& AccentChoice::allCases() {
    static const std::array<AccentChoice, count> all{paper, silver, graphite, slate, blue,   indigo, purple,
                                                     pink,  red,    orange,   green, teal, custom};
    return all;
}

const std::array<AccentChoice, AccentChoice::count - 1>& AccentChoice::presets() {
    static const std::array<AccentChoice, count - 1> all{paper, silver, graphite, slate, blue,  indigo,
                                                         purple, pink,  red,      orange, green, teal};
    return all;
}

std::string AccentChoice::rawValue() const { return kEntries[value_].raw; }

std::string AccentChoice::label() const { return kEntries[value_].label; }

QColor AccentChoice::baseColor() const { return colorFromHex(value_ == custom ? customHex.load() : kEntries[value_].rgb); }

uint32_t hexValue(const QColor& color) {
    const QColor rgb = color.spec() == QColor::Rgb || color.spec() == QColor::ExtendedRgb ? color : color.toRgb();
    if (!rgb.isValid()) return 0;
    auto channel = [](double c) {
        // The tiny allowance keeps 8-bit channels stored at 16 bits from truncating one below.
        const double scaled = std::clamp(c * 255.0 + 1e-9, 0.0, 255.0);
        return static_cast<uint32_t>(scaled);
    };
    return channel(rgb.redF()) * 65536 + channel(rgb.greenF()) * 256 + channel(rgb.blueF());
}

QColor colorFromHex(uint32_t hex) {
    return QColor::fromRgbF(static_cast<float>(((hex >> 16) & 0xFF) / 255.0), static_cast<float>(((hex >> 8) & 0xFF) / 255.0),
                            static_cast<float>((hex & 0xFF) / 255.0), 1.0f);
}

}  // namespace calvoro
