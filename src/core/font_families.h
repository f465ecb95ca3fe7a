#pragma once

// The families that text the program lays out, draws or embeds outside the window is set in.
// They are named exactly, never by a generic name such as "monospace" that each machine's
// fontconfig maps to whatever it has, so that the same source gives the same output everywhere.
// All three come from fonts-dejavu-core, which scripts/setup installs.
namespace calvoro::fonts {

inline constexpr const char* sans = "DejaVu Sans";
inline constexpr const char* serif = "DejaVu Serif";
inline constexpr const char* monospace = "DejaVu Sans Mono";

}  // namespace calvoro::fonts
