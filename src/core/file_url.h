#pragma once

// File URLs that carry every byte of a path, and keys that tell paths apart.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// "file://" and the path's bytes, percent-encoded where a URL needs it as the desktop does it
// (a thumbnail's key depends on it): every byte travels.
std::string fileURL(const std::filesystem::path& path);

// The path a "file:" URL names, every byte of it: "file:///a%E9" or "file://localhost/a%E9" is
// "/a\xE9". Nothing for another scheme or host, a relative path, a query, a fragment or a broken
// escape.
std::optional<std::filesystem::path> pathFromFileURL(std::string_view url);

// Percent escapes decoded into their bytes ("+" stays "+"); nothing for a broken escape.
std::optional<std::string> decodedPercentEscapes(std::string_view text);

// UTF-8 text that tells paths apart, for keys: the path itself when it is UTF-8, else its file
// URL (two names that are not UTF-8 would look alike on screen, and a QString made from them too).
std::string pathKey(const std::filesystem::path& path);

}  // namespace calvoro
