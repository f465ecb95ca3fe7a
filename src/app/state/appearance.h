#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// The window's own light or dark mode, saved by its raw value.
enum class AppearanceMode { dark, light };

// "Dark", "Light".
std::string rawValue(AppearanceMode mode);
// Exact, case-sensitive.
std::optional<AppearanceMode> appearanceModeFromRawValue(std::string_view raw);

// The scheme the views draw with.
enum class ColorScheme { light, dark };

}  // namespace calvoro
