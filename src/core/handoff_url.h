#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// The URLs the file-manager extension opens to hand a file to the program:
//   calvoro://convert?src=<path>&fmt=<format>
//   calvoro://compress?src=<path>&level=<level>   or   calvoro://compress?src=<path>&choose=1
// Query values are percent-encoded byte by byte, so that any path comes through whole.
namespace HandoffURL {

inline constexpr std::string_view scheme = "calvoro";

// Every byte but the unreserved characters (letters, digits, "-", ".", "_", "~") and "/" as "%XX".
std::string percentEncode(std::string_view value);

// Nothing when the source is not an absolute path.
std::optional<std::string> convert(std::string_view sourcePath, std::string_view formatRawValue);
// level and choose are not given together by any caller; both are written when they are.
std::optional<std::string> compress(std::string_view sourcePath, std::optional<std::string_view> level, bool choose);

}  // namespace HandoffURL

}  // namespace calvoro
