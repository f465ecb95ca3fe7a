#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace calvoro {

// Byte counts in the file style: "Zero KB", "1 byte", "512 bytes", "12 KB", "1.5 MB", "2.15 GB".
std::string formatByteCount(int64_t bytes);
// Two sizes set side by side: in the file style, or both in bytes ("67,108,865 bytes") when
// the rounded figures of different sizes would read the same.
std::pair<std::string, std::string> formatDistinctByteCounts(int64_t first, int64_t second);

// Full Unicode lower-casing and NFC of UTF-8 text (ICU). Invalid UTF-8 is passed through.
std::string unicodeLowercased(std::string_view text);
std::string unicodeNFC(std::string_view text);
// Full Unicode case folding, for comparisons that ignore case.
std::string unicodeCaseFolded(std::string_view text);
// ASCII letters lower-cased; every other byte as it is.
std::string asciiLowercased(std::string text);
// Whether text holds needle with ASCII letters of either case; other bytes match only themselves.
bool containsIgnoringASCIICase(std::string_view text, std::string_view needle);

// Numbers in the C locale whatever the user's locale: fixed decimals ("%.1f").
std::string formatFixed(double value, int decimals);
// The shortest text that reads back to the same double, always with a fraction or
// an exponent: "10.0", "0.1", "1e-07", "1e+16".
std::string formatShortestDouble(double value);
// printf-style formatting in the C locale.
std::string formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "~" and "~/..." expanded with $HOME.
std::filesystem::path expandTilde(std::string_view path);

// The text after the last dot of the last component ("" when there is none; "a." gives "").
std::string pathExtension(const std::filesystem::path& path);
// The last component without its last extension ("a.tar.gz" gives "a.tar", ".gz" gives ".gz").
std::string deletingPathExtension(const std::string& fileName);
std::string lastPathComponent(const std::filesystem::path& path);

// Appends the UTF-8 bytes of one Unicode scalar value.
void appendUTF8(char32_t c, std::string& out);

// Every occurrence of from replaced by to, left to right, without rescanning what was inserted.
std::string replacingOccurrences(std::string_view text, std::string_view from, std::string_view to);

// ASCII trimming of blanks, tabs and line ends.
std::string_view trimWhitespace(std::string_view text);

}  // namespace calvoro
