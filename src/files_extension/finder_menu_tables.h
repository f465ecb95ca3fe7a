#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro {

// One menu entry: its title and the identifier of the format or level it stands for.
struct MenuChoice {
    std::string_view title;
    std::string_view rawValue;
};

// The Convert items of a lower-case file extension, in menu order; empty for any other key.
const std::vector<MenuChoice>& convertTargets(std::string_view lowercaseExtension);
// Whether files of a lower-case extension can be compressed.
bool isCompressible(std::string_view lowercaseExtension);
// Every extension that has Convert items.
std::vector<std::string_view> convertibleExtensions();

// The Compress items; an item's tag is its index.
inline constexpr std::array<MenuChoice, 5> compressLevels{{
    {"Maximum Quality", "maximum"},
    {"High", "high"},
    {"Balanced", "balanced"},
    {"Small", "small"},
    {"Smallest", "tiny"},
}};

}  // namespace calvoro
