#pragma once

namespace calvoro {

// The two appearances every view draws in.
enum class ColorScheme { light, dark };

}  // namespace calvoro
